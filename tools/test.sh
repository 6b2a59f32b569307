#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: natively,
# natively under AddressSanitizer and UndefinedBehaviorSanitizer, the Windows
# build under Wine, each fuzz target for a few seconds, and the packages as a
# user would install them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh all
jobs=$(nproc)

build() {
  local dir=$1
  shift
  echo "== building $dir"
  tools/configure.sh "build/$dir" "$@"
  cmake --build "build/$dir" -j"$jobs" >/dev/null
}

build native -DCMAKE_BUILD_TYPE=Release -DVAULTINE_TESTS=ON
build sanitize -DCMAKE_BUILD_TYPE=Debug -DVAULTINE_SANITIZE=ON -DVAULTINE_TESTS=ON
build windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVAULTINE_TESTS=ON
mingw_arch=$(tools/wine-run.sh --mingw-arch)
if [ "$mingw_arch" != i686 ]; then
  echo "note: this kernel cannot run 32-bit Linux programs, which Wine needs for 32-bit Windows"
  echo "      programs; the Windows tests run as a 64-bit build of the same sources instead."
  build "windows-$mingw_arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$mingw_arch.cmake" -DVAULTINE_TESTS=ON
fi
windows_tests=build/windows-$mingw_arch

for dir in build/native build/sanitize "$windows_tests"; do
  echo "== testing $dir"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$jobs")
done
if [ "$windows_tests" != build/windows-i686 ]; then
  echo "== checking the 32-bit executable"
  (cd build/windows-i686 && ctest --output-on-failure --no-tests=error -R '^app_')
fi

echo "== fuzzing each target for a few seconds over its corpus"
tools/fuzz.sh 5

echo "== building and checking the packages"
rm -rf build/packages
tools/package.sh >/dev/null
tests/packaging/check_packages.sh build/packages build/windows-i686/app/Qelt.EXE
