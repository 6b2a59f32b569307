#!/usr/bin/env bash
# Builds the packages into build/packages/: vaultine_VERSION_ARCH.deb, the
# command-line companion with its manual page, and
# vaultine-VERSION-windows-i686.zip, the 32-bit Windows program with its
# ReadMe.txt. Uses the same build folders as tools/test.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh all
jobs=$(nproc)
out=$PWD/build/packages
mkdir -p "$out"

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/native -j"$jobs" >/dev/null
pack() {
  local build=$1 generator=$2
  (cd "$build" && cpack -G "$generator" -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log" >&2; exit 1; }
}
pack build/native DEB

cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/windows-i686 -j"$jobs" >/dev/null
pack build/windows-i686 ZIP

rm -rf "$out/_CPack_Packages" "$out/cpack.log"
ls "$out"/*.deb "$out"/*.zip
