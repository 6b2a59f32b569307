#!/usr/bin/env bash
# Configures a build folder of this tree, quietly:
#   configure.sh BUILD_DIR [CMAKE_ARGUMENTS...]
# CMake reads -DCMAKE_TOOLCHAIN_FILE only when it makes a build folder, and on
# later runs warns that it was not used: it is passed on for a new folder only.
set -euo pipefail

dir=$1
shift
arguments=()
for argument in "$@"; do
  case $argument in
    -DCMAKE_TOOLCHAIN_FILE=*) [ -f "$dir/CMakeCache.txt" ] || arguments+=("$argument") ;;
    *) arguments+=("$argument") ;;
  esac
done
cmake -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$dir" "${arguments[@]}" >/dev/null
