#!/usr/bin/env bash
# Fuzzes the readers of outside text (bio file, pol file, stored herd file,
# warm-start file, cow list) with libFuzzer, then merges what adds coverage into the replayed
# corpus under tests/fuzz/corpus/ (libFuzzer's merge keeps it small).
#   tests/fuzz/run-fuzzers.sh [seconds per reader, default 600] [reader ...]
# The targets work in a folder of their own, so every path given to them is
# absolute.  A reader that executes fewer than 1,000 inputs is a failure:
# the fuzzer did not get going.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
seconds=${1:-600}
shift || true
readers=("$@")
[ ${#readers[@]} -gt 0 ] || readers=(bio pol mkv warm cows)
least=1000

bash scripts/setup.sh clang
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVENDA_FUZZ=ON -DMORVENDA_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target $(printf 'fuzz_%s ' "${readers[@]}")

build=$root/build-fuzz
mkdir -p "$build/findings"
failed=0
for r in "${readers[@]}"; do
  corpus=$root/tests/fuzz/corpus/$r
  found=$build/found-$r
  rm -rf "$found"
  mkdir -p "$found"
  echo "== fuzzing the $r reader for $seconds s"
  log=$build/fuzz-$r.log
  ASAN_OPTIONS=detect_leaks=0 "$build/fuzz_$r" "$found" "$corpus" \
    -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=4096 \
    -artifact_prefix="$build/findings/$r-" -print_final_stats=1 >"$log" 2>&1 || failed=1
  tail -n 12 "$log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ -z "$runs" ] || [ "$runs" -lt "$least" ]; then
    echo "== the $r reader executed ${runs:-no} inputs, fewer than $least" >&2
    failed=1
    continue
  fi
  before=$(ls "$corpus" | wc -l)
  ASAN_OPTIONS=detect_leaks=0 "$build/fuzz_$r" -merge=1 "$corpus" "$found" >"$build/merge-$r.log" 2>&1 || failed=1
  echo "== $r: $runs inputs executed, corpus $before -> $(ls "$corpus" | wc -l) files"
done
exit $failed
