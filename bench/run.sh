#!/usr/bin/env bash
# Times vaultine against a plain flushed copy (the floor) and against a
# byte-at-a-time build of the same transform, on large files in the page
# cache; then on many small files in one call; then on a tree of them with
# -r, against ccrypt -r and gzip -r on identical trees, in turn; then -r in
# one big folder of an exFAT disk, against gzip -r.
#   bench/run.sh [DIR]   DIR holds the test files (default build/bench-files)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

tools/setup-debian.sh native
tools/setup-debian.sh bench
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

  # -f: each run enciphers once more, where its record would leave the file
  # as already done.
  read -r vaultine_s vaultine_kib < <(measure "$vaultine" encrypt -q -f -k "$dir/key" "$data")
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

# A tree of 10,000 files of 4 KiB in 100 folders, transformed with -r by
# vaultine (which flushes every file and each folder), ccrypt and gzip (which
# flush nothing) and gzip --synchronous (every file), each on a fresh copy,
# in turn, three rounds: the median of each. Then the system calls each
# makes per file, counted by strace in a run of its own.
make_tree() {
  rm -rf "$1"
  for d in $(seq 0 99); do
    mkdir -p "$1/d$d"
    for f in $(seq 0 99); do head -c 4096 /dev/urandom >"$1/d$d/f$f.txt"; done
  done
}
tree=$dir/tree
make_tree "$tree.model"
tree_commands=(
  "vaultine|$vaultine encrypt -q -r -k $dir/key $tree"
  "ccrypt|ccrypt -r -e -K bench-key $tree"
  "gzip|gzip -r $tree"
  "gzip-sync|gzip -r --synchronous $tree"
)
declare -A wall cpu
# Every copy is made first, nothing is removed until the end, and each
# command waits 40 s before it starts: a disk that has just freed many inodes
# (the command before, replacing or removing its files) makes new ones slowly
# for a while (ext4 without a journal passes over recently freed ones), which
# would weigh on the commands that make new files, depending on what ran
# before them. What a command frees itself is its own cost.
copies=()
for round in 1 2 3; do
  for entry in "${tree_commands[@]}"; do
    copies+=("$tree.$round.${entry%%|*}")
    cp -a "$tree.model" "${copies[-1]}"
  done
done
for round in 1 2 3; do
  for entry in "${tree_commands[@]}"; do
    name=${entry%%|*}
    mv "$tree.$round.$name" "$tree"
    sync
    sleep 40
    read -r e u s < <(/usr/bin/time -f '%e %U %S' ${entry#*|} 2>&1 >/dev/null | tail -n 1)
    mv "$tree" "$tree.$round.$name"
    wall[$name]+="$e "
    cpu[$name]+="$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') "
  done
done
rm -rf "${copies[@]}"
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -n | sed -n 2p; }
printf '\n%-12s %14s %18s %20s\n' "-r, 10000x4KiB" ms/file cpu_ms/file syscalls/file
for entry in "${tree_commands[@]}"; do
  name=${entry%%|*}
  rm -rf "$tree" && cp -a "$tree.model" "$tree" && sync
  strace -f -c -o "$dir/counts" ${entry#*|} >/dev/null 2>&1
  calls=$(awk '$NF == "total" { print $(NF - 2) }' "$dir/counts")
  printf '%-12s %14s %18s %20s\n' "$name" \
    "$(awk -v s="$(median "${wall[$name]}")" 'BEGIN { printf "%.3f", s / 10 }')" \
    "$(awk -v s="$(median "${cpu[$name]}")" 'BEGIN { printf "%.3f", s / 10 }')" \
    "$(awk -v c="$calls" 'BEGIN { printf "%.1f", c / 10000 }')"
done
rm -rf "$tree" "$tree.model" "$dir/counts"

# Peak memory with 100,000 files: what the walk and the files at work hold
# stays bounded, whatever the tree.
rm -rf "$tree"
for d in $(seq 0 999); do
  mkdir -p "$tree/d$d"
  for f in $(seq 0 99); do printf x >"$tree/d$d/f$f"; done
done
read -r _ peak_kib < <(/usr/bin/time -f '%e %M' "$vaultine" encrypt -q -r -k "$dir/key" "$tree" 2>&1 >/dev/null | tail -n 1)
printf '\n-r on 100,000 files: peak memory %s MiB\n' "$(ratio "$peak_kib" 1024)"
rm -rf "$tree"

# Files in one folder of an exFAT disk through FUSE, where names are looked up
# by listing: -r against gzip -r (which flushes nothing), at two sizes, so
# that the growth shows. Needs root, a loop device and /dev/fuse.
exfat_r() {  # COUNT COMMAND...
  local count=$1 image=$dir/exfat.img mount=$dir/exfat device seconds
  shift
  rm -f "$image" && truncate -s 256M "$image" && mkfs.exfat "$image" >/dev/null 2>&1 || return 1
  mkdir -p "$mount" && device=$(losetup -f --show "$image" 2>/dev/null) || return 1
  if ! mount.exfat-fuse "$device" "$mount" >/dev/null 2>&1; then losetup -d "$device"; return 1; fi
  mkdir "$mount/f"
  for i in $(seq "$count"); do head -c 4096 /dev/urandom >"$mount/f/$i.txt"; done
  sync
  seconds=$(/usr/bin/time -f '%e' "$@" "$mount/f" 2>&1 >/dev/null | tail -n 1)
  umount "$mount" && losetup -d "$device" && rm -f "$image"
  echo "$seconds"
}
if command -v mount.exfat-fuse >/dev/null && command -v mkfs.exfat >/dev/null && [ "$(id -u)" -eq 0 ]; then
  printf '\n%-22s %12s %12s\n' "-r, one exFAT folder" vaultine_s gzip_s
  for count in 4000 8000; do
    printf '%-22s %12s %12s\n' "$count x 4KiB" "$(exfat_r "$count" "$vaultine" encrypt -q -r -k "$dir/key")" \
      "$(exfat_r "$count" gzip -r)"
  done
else
  echo "no exFAT through FUSE here (root, exfat-fuse, exfatprogs): exFAT timing skipped"
fi

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
  read -r native_s _ < <(measure "$vaultine" encrypt -q -f -k "$dir/key" "$data")
  tools/wine-run.sh --stop-server
  printf '\nWindows engine under Wine (%s build), 256MiB: %s s; native: %s s; ratio %s\n' "$mingw_arch" "$wine_s" "$native_s" \
    "$(ratio "$wine_s" "$native_s")"
  rm -f "$data"
else
  echo "no Windows cross-compiler or Wine here: Wine timing skipped (tools/setup-debian.sh all)"
fi
rm -f "$dir/key"
