#!/usr/bin/env bash
# The sweep's collect step on 10^5 result rows: a sampled plan of 10^5
# scenarios (written with --dry-run), synthetic shard files of 100 rows with
# every yearly figure, then --collect into the CSV and the database, timed
# three times (the median is the figure to quote).
#   bench/sweep_collect.sh [MORVENDA_PROGRAM]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/morvenda}")
# --- constants
scenarios=100000
shard=100
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
design=(-m "$program" -d runs -b "$root/examples/holstein_lb.bio" -v interest=0..0.08 -v cullcost=50..200
        --samples "$scenarios" --shard-size "$shard")
"$root/tools/morvenda-sweep" "${design[@]}" --dry-run 2>/dev/null
figures=$("$program" figures --json | python3 -c 'import json, sys; print(len(json.load(sys.stdin)))')
python3 - runs/sweep-*/plan.json "$figures" "$shard" <<'PY'
import json, os, sys
plan = json.load(open(sys.argv[1]))
figures, shard = int(sys.argv[2]), int(sys.argv[3])
folder = os.path.dirname(sys.argv[1])
values = ",".join(f"{1000 + k * 0.123456:.6f}" for k in range(figures * 3))
s = plan["scenarios"]
for k in range(0, len(s), shard):
    with open(os.path.join(folder, "shards", f"shard-{k // shard:06d}.csv"), "w") as f:
        f.writelines(f'"{label}",0,"32 - EXE completed",{values},{sid}\n' for sid, label, _, _ in s[k:k + shard])
PY
for i in 1 2 3; do  # the plan, the design and the merge, as a user runs it
  /usr/bin/time -f "collect of $scenarios rows: %e s wall, %U s user, %S s system, %M kB" \
    "$root/tools/morvenda-sweep" "${design[@]}" --collect -o sweep.csv --db sweep.db 2>&1 | grep '^collect'
done
echo "rows in the database: $(sqlite3 sweep.db 'SELECT count(*) FROM results')"
