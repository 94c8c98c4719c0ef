#!/usr/bin/env bash
# The sweep tool on a real one-node Slurm cluster started on this machine:
# a 200-scenario sweep as 10 array tasks of 20 gives the rows of the same
# sweep run here, and after one task is killed mid-shard a second --slurm
# submits that shard only.
#   tests/slurm/slurm_test.sh MORVENDA_PROGRAM
set -uo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
program=$1
sweep=$src/tools/morvenda-sweep
# --- constants
scenarios=200                 # the sweep's size
shard=20                      # scenarios per array task
killed=3                      # the task killed mid-shard
wait_s=600                    # the longest the sweep may take on the cluster

[ "$(id -u)" = 0 ] || { echo "the Slurm test starts slurmd and needs root" >&2; exit 1; }
for c in munged slurmctld slurmd sbatch squeue scancel sqlite3; do
  command -v "$c" >/dev/null || { echo "$c is missing: run scripts/setup.sh" >&2; exit 1; }
done
work=$(mktemp -d)
chmod 0755 "$work"
# shellcheck source=cluster.sh
source "$src/tests/slurm/cluster.sh"
trap 'cluster_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
passed=0 failed=0
check() { # description, command...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}

cluster_start "$work/cluster" || exit 1
echo "slurm: the cluster is up"

# a small herd whose run takes a fraction of a second
cd "$work"
"$program" set "$src/examples/holstein_lb.bio" maxlact=3 -o small.bio || exit 1
design=(-b small.bio -v interest=0.02..0.08 -v cullcost=50..200 --samples "$scenarios" --seed 7
        --shard-size "$shard")

"$sweep" -m "$program" -j 2 -d here -o here.csv --db here.db "${design[@]}" 2>here.err
check "the sweep run here exits 0" test $? -eq 0
check "it has a row per scenario" test "$(wc -l < here.csv)" -eq $((scenarios + 1))

"$sweep" -m "$program" -d cluster --slurm "${design[@]}" 2>submit.err
check "--slurm submits and exits 0" test $? -eq 0
job=$(awk 'NR == 1 { print $1 }' cluster/sweep-*/jobs.txt)
check "the job array has 10 tasks" grep -q -- "--array=0-9 " cluster/sweep-*/submit.sh
"$sweep" -m "$program" -d cluster --slurm --dry-run "${design[@]}" 2>again.err
check "while the array is held, a second --slurm has no shard to submit" grep -q 'no shard to submit' again.err

# kill one task once it has finished a scenario of its shard
for _ in $(seq $((wait_s * 10))); do
  part=$(ls cluster/sweep-*/shards/shard-00000$killed.csv.part.* 2>/dev/null | head -n 1)
  [ -n "$part" ] && [ "$(wc -l < "$part")" -ge 1 ] && break
  sleep 0.1
done
check "task $killed was caught mid-shard" test -n "$part"
scancel "${job}_$killed"
for _ in $(seq "$wait_s"); do
  [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break
  sleep 1
done
check "the array has finished" test -z "$(squeue -h -j "$job" 2>/dev/null)"

"$sweep" -m "$program" -d cluster -o cluster.csv --db cluster.db --collect "${design[@]}" 2>collect.err
check "collect with a shard missing exits 1" test $? -eq 1
check "collect says how many did not run" grep -q "$shard not run" collect.err
check "the missing shard keeps its rows" test "$(wc -l < cluster.csv)" -eq $((scenarios + 1))

"$sweep" -m "$program" -d cluster -o cluster.csv --db cluster.db --slurm --wait "${design[@]}" 2>resubmit.err
check "the resubmission exits 0" test $? -eq 0
check "the resubmission runs the killed shard only" \
  test "$(sed -n 's/.*--array=\([^ ]*\) .*/\1/p' cluster/sweep-*/submit.sh)" = "$killed"
check "two jobs were submitted in all" test "$(wc -l < cluster/sweep-*/jobs.txt)" -eq 2
check "the cluster's rows are the rows run here, to the byte" cmp here.csv cluster.csv
check "the databases hold the same tables and rows" cmp <(sqlite3 here.db .dump) <(sqlite3 cluster.db .dump)

echo "slurm: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
