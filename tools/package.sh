#!/usr/bin/env bash
# Builds the packages into build/packages/, writing nothing outside build/:
#   vaultine_VERSION_ARCH.deb           the command-line companion and its manual
#                                       page, built by dpkg-buildpackage from debian/
#   vaultine-VERSION-windows-32bit.zip  the 32-bit Windows program, its ReadMe.txt
#                                       and LICENSE.txt
# Installs only what the packages need (setup-debian.sh package).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh package
version=$(sed -n 's/^#define VAULTINE_DISPLAY_VERSION "\(.*\)"$/\1/p' version.h)
out=$PWD/build/packages
log=$PWD/build/package.log
rm -rf "$out"
mkdir -p "$out"
# Runs a step quietly; shows its output when it fails.
quietly() { "$@" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }; }

# dpkg-buildpackage builds in the tree it is given and writes beside it: a copy
# of the working tree, without the build folders, under build/deb/.
tree=build/deb/vaultine-$version
rm -rf build/deb
mkdir -p "$tree"
tar -c --exclude=./build --exclude=./.git --exclude=./bench/results -f - . | tar -x -C "$tree" -f -
# The package's files are dated as its changelog entry (dpkg-buildpackage
# dates newer ones so), whenever and from whatever checkout it is built.
find "$tree" -exec touch -h -d "$(dpkg-parsechangelog -l debian/changelog -SDate)" {} +
(cd "$tree" && quietly dpkg-buildpackage -b -us -uc)
mv build/deb/vaultine_"$version"_*.deb "$out"/

# The zip, from a build folder without the tests (they need GoogleTest and
# Wine). Windows links are reproducible, so its Qelt.EXE is the file the
# tests' build folder holds.
build=build/windows-i686-zip
tools/configure.sh "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DVAULTINE_TESTS=OFF
quietly cmake --build "$build" -j"$(nproc)"
(cd "$build" && quietly cpack -G ZIP -B "$out")

rm -rf "$out/_CPack_Packages" "$log"
ls "$out"/*.deb "$out"/*.zip
