#!/usr/bin/env bash
# The packages as a user gets them: the Debian package, of the version in
# version.h, passes lintian and installs (here into a scratch root) a working
# vaultine and its manual page, with dependencies this system meets; the zip
# holds the 32-bit Windows program the tests ran, stripped, its ReadMe.txt and
# LICENSE.txt, which Notepad shows with their line ends.
#   check_packages.sh PACKAGE_DIR QELT_EXE
set -uo pipefail

dir=$1
exe=$2
source_dir=$(dirname "${BASH_SOURCE[0]}")/../..
version=$(sed -n 's/^#define VAULTINE_DISPLAY_VERSION "\(.*\)"$/\1/p' "$source_dir/version.h")
deb=$(ls "$dir"/vaultine_*.deb)
zip=$dir/vaultine-$version-windows-32bit.zip
root=$(mktemp -d "${TMPDIR:-/tmp}/vaultine-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "debian/changelog does not give version.h's version $version"
dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"
# Dated as the changelog entry, not as the build.
newer=$(find "$root" -mindepth 1 -newermt "$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -SDate)")
[ -z "$newer" ] || fail "files dated after the changelog entry: $newer"
# The licence's notice goes with every copy.
doc=$root/usr/share/doc/vaultine
grep -qxF "Copyright: $(grep '^Copyright ' "$source_dir/LICENSE")" "$doc/copyright" &&
  sed -n 's/^ //; s/^\.$//; /^Permission/,$p' "$doc/copyright" | cmp -s - <(sed -n '/^Permission/,$p' "$source_dir/LICENSE") ||
  fail "the copyright file does not hold LICENSE's notice"
# lintian leaves a file in TMPDIR: the scratch root takes it.
lintian=$(TMPDIR=$root lintian --fail-on error,warning "$deb" 2>&1 | sed '/^running with root privileges/d') ||
  fail "lintian reports: $lintian"
vaultine=$root/usr/bin/vaultine
[ "$("$vaultine" --version | head -n 1)" = "vaultine $version" ] || fail "vaultine --version does not say $version"
man -M "$root/usr/share/man" -w vaultine >/dev/null || fail "man finds no manual page"
warnings=$(MANWIDTH=80 man --warnings -M "$root/usr/share/man" vaultine 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
apt-get -s install "$(realpath "$deb")" >/dev/null 2>&1 || fail "its dependencies ($(dpkg-deb -f "$deb" Depends)) cannot be met"
# bash completes the commands, the options and the files.
completion=$root/usr/share/bash-completion/completions/vaultine
[ "$(bash -c 'source /usr/share/bash-completion/bash_completion 2>/dev/null; source "$1"
  COMP_LINE="vaultine encrypt --ve"; COMP_POINT=${#COMP_LINE}; COMP_WORDS=(vaultine encrypt --ve); COMP_CWORD=2
  _vaultine; echo "${COMPREPLY[*]}"' _ "$completion")" = "--verbose --version" ] ||
  fail "bash does not complete vaultine's options from $completion"

# A round trip with the installed command and a key it made.
head -c 5000 /dev/urandom >"$root/plain"
cp "$root/plain" "$root/data"
"$vaultine" keygen --for "$root/data" "$root/key" || fail "keygen failed"
"$vaultine" encrypt -q -k "$root/key" "$root/data" || fail "encrypt failed"
cmp -s "$root/data" "$root/plain" && fail "encrypt changed nothing"
"$vaultine" decrypt -q -k "$root/key" "$root/data" || fail "decrypt failed"
cmp -s "$root/data" "$root/plain" || fail "decrypt did not restore the file"

folder=$(basename "$zip" .zip)
[ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "$folder/LICENSE.txt $folder/Qelt.EXE $folder/ReadMe.txt " ] ||
  fail "the zip $zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"
unzip -p "$zip" "$folder/Qelt.EXE" | cmp -s - "$exe" || fail "the zip's Qelt.EXE is not the 32-bit build"
! i686-w64-mingw32-objdump -h "$exe" | grep -q '\.debug' || fail "Qelt.EXE is not stripped"
unzip -p "$zip" "$folder/LICENSE.txt" | cmp -s - <(sed 's/$/\r/' "$source_dir/LICENSE") ||
  fail "the zip's LICENSE.txt is not LICENSE with CRLF line ends"
# Notepad before Windows 10 shows a text without carriage returns as one line,
# and every Notepad shows UTF-8 as UTF-8 when a byte-order mark says so,
# whatever the language Windows is set to.
[ "$(unzip -p "$zip" "$folder/ReadMe.txt" | head -n 1)" = $'\xEF\xBB\xBF'"Vaultine $version"$'\r' ] ||
  fail "the zip's ReadMe.txt is not for $version, or has no byte-order mark or CRLF line ends"
unzip -p "$zip" "$folder/ReadMe.txt" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1 ||
  fail "the zip's ReadMe.txt is not UTF-8"

[ "$failures" -eq 0 ] && echo "packages checked: $(basename "$deb"), $(basename "$zip")"
[ "$failures" -eq 0 ]
