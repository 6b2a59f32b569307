#!/usr/bin/env bash
# Times vaultine against a plain flushed copy (the floor) and against a
# byte-at-a-time build of the same transform, on large files in the page
# cache, then on many small files in one call.
#   bench/run.sh [DIR]   DIR holds the test files (default build/bench-files)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh native
tools/configure.sh build/native -DCMAKE_BUILD_TYPE=Release
cmake --build build/native --target vaultine byte_at_a_time -j"$(nproc)" >/dev/null
vaultine=build/native/cli/vaultine
byte_at_a_time=build/native/bench/byte_at_a_time

dir=${1:-build/bench-files}
mkdir -p "$dir"
head -c 4096 /dev/urandom >"$dir/key"

# Seconds and peak resident memory (KiB) of one command: the median of three
# runs, each after earlier writes have reached the disk, since the disk's
# pace varies a lot from one run to the next.
measure() {
  local runs=()
  for _ in 1 2 3; do
    sync
    runs+=("$(/usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n 1)")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

printf '%-8s %12s %12s %12s %12s %14s %12s\n' size vaultine_s dd_s byte_s vaultine/dd byte/vaultine peak_MiB
for mib in 256 1024; do
  data=$dir/data-$mib
  head -c $((mib << 20)) /dev/urandom >"$data"
  cat "$data" >/dev/null

  read -r vaultine_s vaultine_kib < <(measure "$vaultine" encrypt -q -k "$dir/key" "$data")
  read -r dd_s _ < <(measure dd if="$data" of="$dir/copy" bs=1M conv=fsync)
  rm -f "$dir/copy"
  sync
  read -r byte_s _ < <(measure "$byte_at_a_time" "$data" "$dir/key" 0)

  printf '%-8s %12s %12s %12s %12s %14s %12s\n' "${mib}MiB" "$vaultine_s" "$dd_s" "$byte_s" \
    "$(ratio "$vaultine_s" "$dd_s")" "$(ratio "$byte_s" "$vaultine_s")" "$(ratio "$vaultine_kib" 1024)"
  rm -f "$data"
done

# Many small files: one call on all of them against a loop of flushed copies,
# time per file. Both flushes (the file and its folder) are part of each file.
printf '\n%-14s %16s %16s %18s\n' files vaultine_ms/file dd_ms/file vaultine_cpu_ms/file
for count in 2000 10000; do
  small=$dir/small
  rm -rf "$small"
  mkdir -p "$small"
  for i in $(seq "$count"); do head -c 4096 /dev/urandom >"$small/$i.txt"; done
  sync
  read -r vaultine_s user_s sys_s < <(/usr/bin/time -f '%e %U %S' "$vaultine" encrypt -q -k "$dir/key" "$small"/*.txt 2>&1 >/dev/null | tail -n 1)
  sync
  start=$(date +%s.%N)
  for file in "$small"/*.txt; do dd if="$file" of="$file.copy" bs=4096 conv=fsync status=none; done
  dd_s=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
  per_file() { awk -v s="$1" -v n="$count" 'BEGIN { printf "%.3f", s * 1000 / n }'; }
  printf '%-14s %16s %16s %18s\n' "$count x 4KiB" "$(per_file "$vaultine_s")" "$(per_file "$dd_s")" \
    "$(per_file "$(awk -v u="$user_s" -v s="$sys_s" 'BEGIN { print u + s }')")"
  rm -rf "$small"
done

# The Windows engine under Wine against the native companion, on 256 MiB.
mingw_arch=$(tools/wine-run.sh --mingw-arch)
if command -v wine >/dev/null && command -v "$mingw_arch-w64-mingw32-g++-posix" >/dev/null; then
  tools/configure.sh "build/bench-$mingw_arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$mingw_arch.cmake"
  cmake --build "build/bench-$mingw_arch" --target win32_transform -j"$(nproc)" >/dev/null
  tools/wine-run.sh --start-server
  data=$dir/data-wine
  head -c $((256 << 20)) /dev/urandom >"$data"
  cat "$data" >/dev/null
  read -r wine_s _ < <(measure tools/wine-run.sh "build/bench-$mingw_arch/bench/win32_transform.exe" "$data" "$dir/key")
  read -r native_s _ < <(measure "$vaultine" encrypt -q -k "$dir/key" "$data")
  tools/wine-run.sh --stop-server
  printf '\nWindows engine under Wine (%s build), 256MiB: %s s; native: %s s; ratio %s\n' "$mingw_arch" "$wine_s" "$native_s" \
    "$(ratio "$wine_s" "$native_s")"
  rm -f "$data"
else
  echo "no Windows cross-compiler or Wine here: Wine timing skipped (tools/setup-debian.sh all)"
fi
rm -f "$dir/key"
