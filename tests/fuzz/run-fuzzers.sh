#!/usr/bin/env bash
# Fuzzes the three readers of outside text (bio file, pol file, stored herd
# file) with libFuzzer, growing the corpus under tests/fuzz/corpus/.
#   tests/fuzz/run-fuzzers.sh [seconds per reader, default 600] [reader ...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
readers=("$@")
[ ${#readers[@]} -gt 0 ] || readers=(bio pol mkv)

bash scripts/setup.sh clang
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVENDA_FUZZ=ON -DMORVENDA_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target $(printf 'fuzz_%s ' "${readers[@]}")

mkdir -p build-fuzz/findings
for r in "${readers[@]}"; do
  echo "== fuzzing the $r reader for $seconds s"
  ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_$r tests/fuzz/corpus/$r \
    -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=4096 \
    -artifact_prefix=build-fuzz/findings/$r- -print_final_stats=1 2>&1 | tail -n 12
done
