#!/usr/bin/env bash
# Installs what is missing, builds Vaultine and opens the Windows program under
# Wine on this display. Without a display it says so and leaves the
# command-line companion built instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh all
jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native --target vaultine -j"$jobs" >/dev/null

mingw_arch=$(tools/wine-run.sh --mingw-arch)
if [ "$mingw_arch" != i686 ]; then
  echo "note: this kernel cannot run 32-bit Linux programs, which Wine needs for 32-bit Windows programs;"
  echo "      opening a 64-bit build of the same program (build/windows-i686/app/Qelt.EXE is the 32-bit one)."
  cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build/windows-i686 --target vaultine_app -j"$jobs" >/dev/null
fi
build=build/windows-$mingw_arch
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$mingw_arch.cmake" >/dev/null
cmake --build "$build" --target vaultine_app -j"$jobs" >/dev/null

if [ -z "${DISPLAY:-}" ] || ! timeout 5 xdotool getmouselocation >/dev/null 2>&1; then
  echo "No display to open the Windows program on; use the command-line companion: build/native/cli/vaultine --help"
  exit 0
fi
exec tools/wine-run.sh "$build/app/Qelt.EXE"
