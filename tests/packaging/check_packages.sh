#!/usr/bin/env bash
# The packages as a user gets them: the Debian package installs (here into a
# scratch root) a working vaultine and its manual page, with dependencies this
# system meets; the zip holds the 32-bit Windows program and its ReadMe.txt.
#   check_packages.sh PACKAGE_DIR QELT_EXE
set -uo pipefail

dir=$1
exe=$2
deb=$(ls "$dir"/vaultine_*.deb)
zip=$(ls "$dir"/vaultine-*-windows-i686.zip)
root=$(mktemp -d "${TMPDIR:-/tmp}/vaultine-package-XXXXXX")
trap 'rm -rf "$root"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"
vaultine=$root/usr/bin/vaultine
[ "$("$vaultine" --version | head -n 1)" = "vaultine $version" ] || fail "vaultine --version does not say $version"
man -M "$root/usr/share/man" -w vaultine >/dev/null || fail "man finds no manual page"
warnings=$(MANWIDTH=80 man --warnings -M "$root/usr/share/man" vaultine 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
apt-get -s install "$(realpath "$deb")" >/dev/null 2>&1 || fail "its dependencies ($(dpkg-deb -f "$deb" Depends)) cannot be met"

# A round trip with the installed command and a key it made.
head -c 5000 /dev/urandom >"$root/plain"
cp "$root/plain" "$root/data"
"$vaultine" keygen --for "$root/data" "$root/key" || fail "keygen failed"
"$vaultine" encrypt -q -k "$root/key" "$root/data" || fail "encrypt failed"
cmp -s "$root/data" "$root/plain" && fail "encrypt changed nothing"
"$vaultine" decrypt -q -k "$root/key" "$root/data" || fail "decrypt failed"
cmp -s "$root/data" "$root/plain" || fail "decrypt did not restore the file"

folder=$(basename "$zip" .zip)
[ "$(unzip -Z1 "$zip" | sort | tr '\n' ' ')" = "$folder/Qelt.EXE $folder/ReadMe.txt " ] ||
  fail "the zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"
unzip -p "$zip" "$folder/Qelt.EXE" | cmp -s - "$exe" || fail "the zip's Qelt.EXE is not the 32-bit build"
# Notepad before Windows 10 shows a text without carriage returns as one line.
[ "$(unzip -p "$zip" "$folder/ReadMe.txt" | head -n 1)" = "Vaultine $version"$'\r' ] ||
  fail "the zip's ReadMe.txt is not for $version, or has no CRLF line ends"

[ "$failures" -eq 0 ] && echo "packages checked: $(basename "$deb"), $(basename "$zip")"
[ "$failures" -eq 0 ]
