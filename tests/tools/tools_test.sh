#!/usr/bin/env bash
# The chart and sweep tools on real runs of the example herd.
#   tests/tools/tools_test.sh MORVENDA_PROGRAM
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}

png_ok() { # a PNG signature and a sensible size (at least 10 kB, width 800+)
  local f=$1
  [ -f "$f" ] || return 1
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 1
  [ "$(stat -c %s "$f")" -ge 10000 ] || return 1
  local w
  w=$(od -An -tu1 -j16 -N4 "$f" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
  [ "$w" -ge 800 ]
}

# --- usage on request: on standard output, exit status 0, nothing on standard error
for tool in morvenda-plot morvenda-sweep bio-set; do
  for flag in --help -h; do
    "$src/tools/$tool" $flag >"$work/help.out" 2>"$work/help.err"
    check "$tool $flag exits 0" test $? -eq 0
    check "$tool $flag prints its usage" grep -q "^  tools/$tool " "$work/help.out"
    check "$tool $flag writes nothing to standard error" test ! -s "$work/help.err"
  done
  "$src/tools/$tool" >/dev/null 2>"$work/help.err"
  check "$tool without arguments is a usage error" test $? -eq 2
  check "$tool without arguments shows its usage on standard error" grep -q "^  tools/$tool " "$work/help.err"
done

# --- bio-set: a wrapper of morvenda set, byte for byte outside the values named
ex=$src/examples/holstein_lb.bio
MORVENDA_PROGRAM=$program "$src/tools/bio-set" "$ex" 'serve[7]=NO' interest=0.04 >"$work/variant.bio" 2>"$work/set.err"
check "bio-set exits 0" test $? -eq 0
check "bio-set changes only the values named" \
  test "$(diff "$ex" "$work/variant.bio" | grep -c '^>')" -eq 2
check "serve[7] is model month 7 of the switches" \
  grep -qx 'free free free free free free NO free free free free free' "$work/variant.bio"
"$program" set "$ex" serve.7=NO interest=0.04 >"$work/same.bio"
check "bio-set writes what morvenda set writes" cmp -s "$work/variant.bio" "$work/same.bio"
MORVENDA_PROGRAM=$program "$src/tools/bio-set" "$ex" interest=4 >/dev/null 2>"$work/set.err"
check "a value outside its range exits 1" test $? -eq 1
check "the refused value is named" grep -q 'item 31 (interest rate), interest: "4" is outside 0..1' "$work/set.err"
MORVENDA_PROGRAM=$program "$src/tools/bio-set" "$ex" no_such_item=4 >/dev/null 2>&1
check "an unknown name exits 2" test $? -eq 2

# --- the plot tool on the example herd's report and pay-off file
mkdir -p "$work/run" && cd "$work/run"
"$program" "$src/examples/holstein_lb.bio" </dev/null >console.txt 2>&1
check "example run completes" test "$(cat msg.txt)" = "32 - EXE completed"
report=$(grep -l '^t sea operating_cash ' ./* | head -n 1)
rpo=$(ls ./*.rpo | head -n 1)
"$src/tools/morvenda-plot" -o charts "$report" "$rpo" >/dev/null 2>plot.err
check "plot tool exits 0" test $? -eq 0
for png in cashflow herd_structure culling_hazards lactation_curve retention_payoff pregnancy_value; do
  check "$png.png is a valid PNG of sensible size" png_ok "charts/$png.png"
done
"$src/tools/morvenda-plot" -o charts missing.res >/dev/null 2>err.txt
check "a missing report exits 1" test $? -eq 1
check "a missing report is named" grep -q "missing.res: no such file" err.txt
"$src/tools/morvenda-plot" -o charts "$src/examples/holstein_lb.bio" >/dev/null 2>err.txt
check "a file that is not a report exits 1" test $? -eq 1
check "a file that is not a report is said so" grep -q "not a Morvenda statistics report" err.txt

# --- the ranked-herd chart from morvenda cows on the example cow list
cd "$work/run"
"$program" cows "$src/examples/holstein_kg.bio" "$src/examples/holstein_kg_cows.csv" --month APR -o ranked.csv \
  </dev/null >cows_console.txt 2>&1
check "morvenda cows on the example list exits 0" test $? -eq 0
"$src/tools/morvenda-plot" -o ranked_charts -c EUR -r ranked.csv >/dev/null 2>ranked.err
check "ranked chart alone exits 0" test $? -eq 0
check "ranked_herd.png is a valid PNG of sensible size" png_ok ranked_charts/ranked_herd.png
"$src/tools/morvenda-plot" -o ranked_charts -r "$report" >/dev/null 2>err.txt
check "a file that is not a ranked list is said so" grep -q "not a ranked list of morvenda cows" err.txt

# --- the fan chart of simulated herds
cd "$work/run"
"$program" simulate "$src/examples/holstein_kg.bio" --cows 50 --years 4 --replicates 40 -o sim.csv \
  </dev/null >sim_console.txt 2>&1
check "morvenda simulate on the example herd exits 0" test $? -eq 0
"$src/tools/morvenda-plot" -o sim_charts -s sim.csv >/dev/null 2>sim.err
check "fan chart alone exits 0" test $? -eq 0
check "sim_fan.png is a valid PNG of sensible size" png_ok sim_charts/sim_fan.png
"$src/tools/morvenda-plot" -o sim_charts -f nosuchfigure -s sim.csv >/dev/null 2>err.txt
check "an unknown figure is said so" grep -q "no figure nosuchfigure" err.txt
"$src/tools/morvenda-plot" -o sim_charts -s "$report" >/dev/null 2>err.txt
check "a file that is not a summary is said so" grep -q "not a summary of morvenda simulate" err.txt

# --- the sweep tool: three variants of the example herd, into a CSV and a database
cd "$work"
"$src/tools/morvenda-sweep" -m "$program" -j 2 -o sweep.csv --db sweep.db -d runs \
  -b "$src/examples/holstein_lb.bio" -v interest=0,0.04,0.08 >/dev/null 2>sweep.err
check "three-variant sweep exits 0" test $? -eq 0
check "three-variant sweep gives a header and three rows" test "$(wc -l < sweep.csv)" -eq 4
check "the CSV has the yearly figures" grep -q '^run,exit_status,message,herdlife_y1,herdlife_y2,herdlife_y3,eaa_cyr_y1' sweep.csv
check "every variant completed" test "$(grep -c ',0,"32 - EXE completed",' sweep.csv)" -eq 3
check "the scenario id is the last column" grep -q ',scenario_id$' sweep.csv
check "every scenario has an id of its own" test "$(tail -n +2 sweep.csv | awk -F, '{ print $NF }' | sort -u | grep -cx '[0-9a-f]\{16\}')" -eq 3
check "the database has a row per scenario" \
  test "$(sqlite3 sweep.db 'SELECT count(*) FROM scenarios JOIN results USING (id) WHERE exit_status = 0 AND herdlife_y1 > 0')" -eq 3
check "the runs wrote no rpo, del or pol file" test -z "$(find runs -name '*.rpo' -o -name '*.del' -o -name '*.pol')"
touch -d '2000-01-01' runs/sweep-*/shards/*.csv
"$src/tools/morvenda-sweep" -m "$program" -j 2 -o again.csv --db again.db -d runs \
  -b "$src/examples/holstein_lb.bio" --vary interest=0..0.08:3 >/dev/null 2>again.err
check "the same sweep again (a grid of 3 levels) exits 0" test $? -eq 0
check "it runs nothing again" test -z "$(find runs/sweep-*/shards -name '*.csv' -newer sweep.csv)"
check "and gives the same rows" cmp -s sweep.csv again.csv
"$src/tools/morvenda-sweep" -m "$program" -S : -o login.csv --db login.db -d runs-login \
  -b "$src/examples/holstein_lb.bio" -v interest=0,0.04,0.08 >/dev/null 2>login.err
check "through -S : the rows are the same to the byte" cmp -s sweep.csv login.csv

# --- usage errors name the option; nothing runs
usage_error() { # option named, arguments...
  local option=$1; shift
  "$src/tools/morvenda-sweep" -m "$program" -d bad -b "$src/examples/holstein_lb.bio" "$@" >/dev/null 2>bad.err
  local status=$?
  check "$* exits 2" test $status -eq 2
  check "$* names $option" grep -q -- "$option" bad.err
}
usage_error --vary -v interest=0.08..0 --samples 4
usage_error --vary -v no_such_item=1,2
usage_error --vary -v interest=0..4:3
usage_error --samples -v interest=0..0.08 --samples 0
usage_error --samples -v interest=0..0.08 --samples 10000001
usage_error --samples -v interest=0..0.08
usage_error --shard-size -v interest=0,0.04 --shard-size 0
usage_error --design -v interest=0..0.08 --samples 4 --design halton
usage_error --nonsense -v interest=0 --nonsense
usage_error --samples -v interest=0,0.04 --samples 10
usage_error --partition -v interest=0 --partition debug
usage_error --partition -v interest=0 --slurm --dry-run --partition "$(printf 'debug\nrm -rf ~')"
usage_error --time -v interest=0 --slurm --dry-run --time 1:00:00:00
usage_error --time -v interest=0 --slurm --dry-run --time "$(printf '10\n#SBATCH --mem=1T')"
usage_error --max-running -v interest=0 --slurm --dry-run --max-running 0
check "no usage error ran anything" test -z "$(find bad -name 'shard-*' 2>/dev/null)"

# --- designs: every stratum of the ranges holds its share of the points
strata() { # plan.json, points, strata per range: 0 when each range's strata hold points/strata each
  python3 - "$@" <<'PY'
import json, sys, collections
plan, n, k = json.load(open(sys.argv[1])), int(sys.argv[2]), int(sys.argv[3])
pts = [[float(v) for _, v in s[3] if _ != "writepol"] for s in plan["scenarios"]]
assert len(pts) == n, len(pts)
bad = 0
for d in range(len(pts[0])):
    c = collections.Counter(int(p[d] * k) for p in pts)
    bad += sum(1 for b in range(k) if c[b] != n // k)
if sys.argv[4:] == ["pairs"]:   # the first two ranges: one point in each of k x k cells
    c = collections.Counter((int(p[0] * k), int(p[1] * k)) for p in pts)
    bad += sum(1 for v in c.values() if v != 1) + (k * k - len(c))
print(bad)
PY
}
for d in sobol lhs; do
  "$src/tools/morvenda-sweep" -m "$program" -d design-$d --dry-run --design $d --samples 64 --seed 5 \
    -b "$src/examples/holstein_lb.bio" -v interest=0.0..1.0 -v conception.5.JUL=0.0..1.0 -v heat_detection.3.MAR=0.0..1.0 \
    >/dev/null 2>design.err
  check "--dry-run of a $d design exits 0" test $? -eq 0
  check "a $d design of 64 points puts 8 in each eighth of every range" \
    test "$(strata design-$d/sweep-*/plan.json 64 8)" = 0
done
check "the first two ranges of a Sobol design of 64 points fill every cell of 8 x 8" \
  test "$(strata design-sobol/sweep-*/plan.json 64 8 pairs)" = 0
"$src/tools/morvenda-sweep" -m "$program" -d design-again --dry-run --design sobol --samples 64 --seed 5 \
  -b "$src/examples/holstein_lb.bio" -v interest=0.0..1.0 -v conception.5.JUL=0.0..1.0 -v heat_detection.3.MAR=0.0..1.0 2>/dev/null
check "the same seed gives the same design" cmp -s design-sobol/sweep-*/plan.json design-again/sweep-*/plan.json

# --- a sweep with a broken bio file reports it and finishes the others
printf 'broken\nnothing here\n' > broken.bio
"$src/tools/morvenda-sweep" -m "$program" -j 2 -o mixed.csv -d runs2 \
  "$src/examples/holstein_lb.bio" broken.bio "$src/examples/holstein_kg.bio" >/dev/null 2>mixed.err
check "a sweep with a failed run exits 1" test $? -eq 1
check "the failed run is reported" grep -q "run 'broken.bio' failed (exit status 1)" mixed.err
check "the CSV keeps a row for every run" test "$(wc -l < mixed.csv)" -eq 4
check "the other runs completed" test "$(grep -c ',0,"32 - EXE completed",' mixed.csv)" -eq 2
check "the sweep says how many failed" grep -q '3 runs, 1 failed' mixed.err
check "every row has every column" python3 -c 'import csv, sys; sys.exit(len({len(r) for r in csv.reader(open("mixed.csv"))}) != 1)'

echo "tools: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
