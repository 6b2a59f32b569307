#!/usr/bin/env bash
# Builds every fuzz target (fuzz/) with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each in turn over its seeds:
#   fuzz.sh [SECONDS] [TARGET...]     SECONDS each (default 60); all targets, or those named
# Prints each target's runs and coverage. Inputs that reach new code are kept
# in build/fuzz/corpus/TARGET, out of the tree, and read again by later runs.
# A finding (a failed property, a sanitizer's report, a crash, a hang) leaves
# its input in build/fuzz/findings/ with the command that reproduces it; the
# script then goes on with the other targets and exits 1.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
case $seconds in
  '' | *[!0-9]*) echo "usage: fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

tools/setup-debian.sh fuzz
# CC and CXX count when the build folder is made, not after.
CC=clang CXX=clang++ tools/configure.sh build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVAULTINE_FUZZ=ON \
  -DVAULTINE_TESTS=OFF
cmake --build build/fuzz --target fuzz_targets -j"$(nproc)" >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
findings=build/fuzz/findings
mkdir -p "$findings" build/fuzz/logs
failed=0
for target in "${targets[@]}"; do
  program=build/fuzz/fuzz/fuzz_$target
  corpus=build/fuzz/corpus/$target
  log=build/fuzz/logs/$target.log
  [ -x "$program" ] || { echo "fuzz.sh: no target '$target' (see fuzz/CMakeLists.txt)" >&2; exit 2; }
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/$target-")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  status=0
  # The first folder gets the new inputs; the seeds in the tree are only read.
  "$program" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  # A run that fails on a seed ends before it says any coverage.
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 | sed 's/cov: \([0-9]*\) ft: \([0-9]*\)/\1 edges, \2 features/' || true)
  printf '%-14s %10s runs  %s  %s inputs kept\n' "$target" "${runs:-?}" "${coverage:-no coverage}" \
    "$(find "$corpus" -type f | wc -l)"
  if [ $status -ne 0 ]; then
    failed=1
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "  FINDING in $target:"
    grep -E 'property failed|ERROR: |SUMMARY: |runtime error' "$log" | head -5 | sed 's/^/    /' || true
    echo "  input:     ${input:-none written; see $log}"
    echo "  reproduce: $program ${input:-}"
    echo "  log:       $log"
  fi
done
exit $failed
