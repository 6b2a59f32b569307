#!/usr/bin/env bash
# Installs what Vaultine needs on Debian 12, and nothing when all is there.
#   setup-debian.sh native    compiler, CMake, GoogleTest, libsodium: the command-line
#                             companion
#   setup-debian.sh package   what tools/package.sh needs for the packages: debhelper,
#                             dpkg-dev, lintian, bash-completion, libsodium, the 32-bit
#                             Windows cross-compiler, man-db and unzip (no Wine, no Xvfb)
#   setup-debian.sh bench     what bench/run.sh compares and counts with: ccrypt, gzip,
#                             strace, time
#   setup-debian.sh fuzz      clang with its libFuzzer and sanitizers: tools/fuzz.sh
#   setup-debian.sh all       native, package and fuzz, and what the tests use: the 64-bit
#                             cross-compiler, Wine (which adds the i386 architecture), Xvfb and xdotool,
#                             strace for the crash test, acl and attr, exFAT and bindfs
# Another package manager at work (unattended upgrades, say) is waited for.
set -euo pipefail

profile=${1:-all}
native=(cmake make g++ googletest time pkg-config libsodium-dev)
package=(cmake make g++ pkg-config libsodium-dev debhelper dpkg-dev lintian bash-completion g++-mingw-w64-i686 man-db
         unzip)
# libFuzzer's run-time comes with clang's, which clang only recommends.
fuzz=(cmake make clang libclang-rt-14-dev)
case $profile in
  native) packages=("${native[@]}") ;;
  package) packages=("${package[@]}") ;;
  bench) packages=(ccrypt gzip strace time) ;;
  fuzz) packages=("${fuzz[@]}") ;;
  all) packages=("${native[@]}" "${package[@]}" "${fuzz[@]}" g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64
                 xvfb xdotool imagemagick strace acl attr exfat-fuse exfatprogs bindfs file) ;;
  *) echo "usage: setup-debian.sh [native|package|bench|fuzz|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
# apt-get waits for dpkg's locks up to DPkg::Lock::Timeout, but not for the
# lists lock of apt-get update nor for the archives lock: a refusal of those is
# tried again every 5 seconds, for as long.
wait_seconds=600
apt_get() {
  local errors waited=0 status
  errors=$(mktemp)
  while true; do
    status=0
    $sudo env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 apt-get -o DPkg::Lock::Timeout=$wait_seconds "$@" \
      2>"$errors" || status=$?
    if [ $status -eq 0 ] || ! grep -q '^E: Could not get lock' "$errors" || [ $waited -ge $wait_seconds ]; then
      break
    fi
    [ $waited -eq 0 ] && echo "Waiting for another package manager to finish..."
    sleep 5
    waited=$((waited + 5))
  done
  cat "$errors" >&2
  rm -f "$errors"
  return $status
}

echo "Installing: ${missing[*]}"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
apt_get update -qq
apt_get install -y -qq "${missing[@]}" >/dev/null
