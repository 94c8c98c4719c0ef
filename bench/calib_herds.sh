#!/usr/bin/env bash
# Calibrates the 60 real herds of ../shared/data/herd-records from the
# example herd, checks every calibrated file, and prints how many
# calibrated and the summary table of the guide's section 10 (observed
# against the model's run of each calibrated herd).
#   bench/calib_herds.sh [MORVENDA] [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
exe=${1:-$root/build/morvenda}
out=${2:-$root/bench/out/herds}
data=$root/../shared/data/herd-records
cols=tests.herd=herd_id,tests.cow=anim_id,tests.date=ctrl_date,tests.lact=parity,tests.calving=calv_date,inseminations.herd=herd_id,inseminations.cow=cow_id,inseminations.date=ai_date,exits.herd=herd_id,exits.cow=anim_id,exits.entry=date_in,exits.entry_reason=cause_in,exits.date=date_out,exits.reason=caus_out,cows.cow=anim_id,cows.birth=birth_date
mkdir -p "$out"
cd "$out"
: > status.txt
for h in $(tail -n +2 "$data/rec.csv" | cut -d, -f1 | sort -u); do
  set +e
  "$exe" calibrate "$root/examples/holstein_kg.bio" --tests "$data/rec.csv" --inseminations "$data/ai.csv" \
    --exits "$data/mvt.csv" --cows "$data/anim.csv" --columns "$cols" \
    --exit-reasons B=culled,M=died,E=sold,H=moved,C=ignore --herd "$h" -o "$h.bio" --report "$h" >"$h.out" 2>"$h.err"
  rc=$?
  "$exe" check "$h.bio" >/dev/null 2>&1
  echo "$h $rc $?" >> status.txt
  set -e
done
echo "calibrated (exit 0): $(awk '$2 == 0' status.txt | wc -l) of $(wc -l < status.txt); passing check: $(awk '$3 == 0' status.txt | wc -l)"
python3 - <<'PY'
import json, os
rows = []
for line in open("status.txt"):
    h, rc, ck = line.split()
    if rc != "0":
        continue
    d = json.load(open(os.path.join(h, "calibration.json")))
    o, m = d["observed"], d["model"]
    f = lambda v, k=1, p=0: "-" if v is None else f"{v * k:.{p}f}"
    rows.append((h, f(o.get("milk_305d_1")), f(o.get("milk_305d_2")), f(o.get("milk_305d_3plus")),
                 f(o.get("conception_all_services"), 100), f(o.get("conception_first_service"), 100),
                 f(o.get("pregnancy_rate_21d"), 100), f(m.get("pregnancy_rate_21d"), 100),
                 f(o.get("calving_interval_days")), f(m.get("calving_interval_days")),
                 f(o.get("cull_rate"), 100), f(m.get("cull_rate"), 100)))
print("| herd | 305 d L1 | L2 | L3+ | conc. % | 1st serv. % | PR21 % obs | model | CI d obs | model | cull % obs | model |")
print("|---|---|---|---|---|---|---|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
PY
