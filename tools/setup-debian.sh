#!/usr/bin/env bash
# Installs what Vaultine needs on Debian 12, and nothing when all is there.
#   setup-debian.sh native   compiler, CMake, GoogleTest: the command-line companion
#   setup-debian.sh all      also the Windows cross-compilers, Wine, Xvfb and xdotool, what
#                            the tests use (strace for the crash test, acl and attr, exFAT), and
#                            what the packages need (dpkg-dev, file, man-db, unzip)
set -euo pipefail

profile=${1:-all}
packages=(cmake make g++ googletest time)
if [ "$profile" = all ]; then
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64 xvfb xdotool
             imagemagick strace acl attr exfat-fuse exfatprogs dpkg-dev file man-db unzip)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
