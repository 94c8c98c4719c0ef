#!/usr/bin/env bash
# Whole-run benchmarks of the example herd and the micro-benchmarks.
#   bench/run.sh            build in Release, then measure
# Results go to bench/out/; copy the medians into bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh hyperfine time libbenchmark-dev

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DMORVENDA_BENCH=ON -DMORVENDA_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
exe=$root/build-bench/morvenda
out=$root/bench/out
rm -rf "$out" && mkdir -p "$out"

# One working directory per analysis; analysis 2 starts from the herd that
# analysis 1 stored.
for a in 1 2 71; do
  mkdir -p "$out/a$a"
  tools/bio-set examples/holstein_lb.bio analysis="$a" > "$out/a$a/herd.bio"
done
(cd "$out/a1" && "$exe" herd.bio </dev/null >/dev/null) && cp "$out/a1/holstein.mkv" "$out/a2/"

for a in 1 2 71; do
  (cd "$out/a$a" &&
    hyperfine --warmup 1 --runs 10 --export-json "$out/run_a$a.json" \
      --command-name "analysis $a" "$exe herd.bio </dev/null >/dev/null")
  (cd "$out/a$a" && /usr/bin/time -v "$exe" herd.bio </dev/null 2>"$out/time_a$a.txt" >/dev/null)
  grep 'Maximum resident' "$out/time_a$a.txt" | sed "s/^/analysis $a: /"
done

for b in build-bench/bench/*_bench; do
  [ -x "$b" ] || continue
  (cd "$out" && "$root/$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
     --benchmark_out="$out/$(basename "$b").json" --benchmark_out_format=json)
done
