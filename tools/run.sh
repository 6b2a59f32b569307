#!/usr/bin/env bash
# Installs what is missing, builds Vaultine and opens the Windows program under
# Wine on this display. Without a display it says so at once and leaves the
# command-line companion built instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

no_display() {
  echo "No display to open the Windows program on; use the command-line companion: build/native/cli/vaultine --help"
  tools/setup-debian.sh native
  tools/configure.sh build/native -DCMAKE_BUILD_TYPE=Release
  cmake --build build/native --target vaultine -j"$(nproc)" >/dev/null
  exit 0
}

[ -n "${DISPLAY:-}" ] || no_display
tools/setup-debian.sh all
timeout 5 xdotool getmouselocation >/dev/null 2>&1 || no_display
jobs=$(nproc)
tools/configure.sh build/native -DCMAKE_BUILD_TYPE=Release
cmake --build build/native --target vaultine -j"$jobs" >/dev/null

mingw_arch=$(tools/wine-run.sh --mingw-arch)
if [ "$mingw_arch" != i686 ]; then
  echo "note: this kernel cannot run 32-bit Linux programs, which Wine needs for 32-bit Windows programs;"
  echo "      opening a 64-bit build of the same program (build/windows-i686/app/Qelt.EXE is the 32-bit one)."
  tools/configure.sh build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
  cmake --build build/windows-i686 --target vaultine_app -j"$jobs" >/dev/null
fi
build=build/windows-$mingw_arch
tools/configure.sh "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$mingw_arch.cmake"
cmake --build "$build" --target vaultine_app -j"$jobs" >/dev/null
exec tools/wine-run.sh "$build/app/Qelt.EXE"
