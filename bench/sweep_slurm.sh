#!/usr/bin/env bash
# Wall time of 200 scenarios of the example herd at interest 0 (200 cull
# costs), run by GNU parallel here and as a Slurm job array on a one-node
# cluster started on this machine (root; slurm-wlm and munge from
# scripts/setup.sh).  Both use every core; the rows must be equal.
#   bench/sweep_slurm.sh [MORVENDA_PROGRAM]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/morvenda}")
# --- constants
scenarios=200
work=$(mktemp -d)
chmod 0755 "$work"
source "$root/tests/slurm/cluster.sh"
trap 'cluster_stop; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
cluster_start "$work/cluster"
cd "$work"
"$program" set "$root/examples/holstein_lb.bio" interest=0 -o base.bio
design=(-m "$program" -b base.bio -v "cullcost=50..249:$scenarios" --shard-size 20)
start=$EPOCHREALTIME
"$root/tools/morvenda-sweep" "${design[@]}" -d here -o here.csv --db here.db 2>/dev/null
here=$(python3 -c "print(round($EPOCHREALTIME - $start, 2))")
start=$EPOCHREALTIME
"$root/tools/morvenda-sweep" "${design[@]}" -d cluster -o cluster.csv --db cluster.db --slurm --wait 2>/dev/null
slurm=$(python3 -c "print(round($EPOCHREALTIME - $start, 2))")
cmp here.csv cluster.csv
echo "GNU parallel: $here s; Slurm: $slurm s; ratio $(python3 -c "print(round($slurm / $here, 3))")"
