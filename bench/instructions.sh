#!/usr/bin/env bash
# Instruction counts (callgrind) of each measured work and its baseline, and
# their ratios: unlike CPU time they do not drift with the machine's load, so
# a change in them is a change in the code. bench/run.sh calls this after the
# timed benchmarks (skip it with BENCH_INSTRUCTIONS=0); it also runs alone.
# Each count is of the measured work only (callgrind's --toggle-collect on the
# function that runs it), divided by the runs callgrind saw.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
    echo "instruction counts: valgrind is not installed (scripts/packages.txt lists it)"
    exit 0
fi
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# count NAME PROGRAM FILTER COLLECT: runs one benchmark under callgrind and
# writes "NAME instructions-per-run" to $work/counts.
count() {
    local name=$1 program=$2 filter=$3 collect=$4
    valgrind --tool=callgrind --callgrind-out-file="$work/$name.out" \
        --toggle-collect="$collect" "build/bench/bin/$program" \
        --benchmark_filter="$filter" --benchmark_min_time=0.001 \
        --benchmark_format=json >"$work/$name.json" 2>"$work/$name.log" || {
        echo "callgrind of $name failed:"; tail -20 "$work/$name.log"; exit 1
    }
    python3 - "$name" "$work/$name.json" "$work/$name.log" >>"$work/counts" <<'PY'
import json, re, sys
name, js, log = sys.argv[1:]
runs = sum(b["iterations"] for b in json.load(open(js))["benchmarks"]
           if b.get("run_type") != "aggregate")
collected = int(re.search(r"Collected : (\d+)", open(log).read()).group(1))
print(name, collected / max(runs, 1))
PY
}

count raw_insert_icbc bench_import '^raw_insert_icbc(/|$)' '*measured*'
count icbc_import bench_import '^icbc_import(/|$)' '*measured*'
count raw_insert_ccb bench_import '^raw_insert_ccb(/|$)' '*measured*'
count ccb_import bench_import '^ccb_import(/|$)' '*measured*'
count grid_raw_select bench_journal '^raw_select(/|$)' '*raw_select*'
count rebuild_grid bench_journal '^rebuild_grid(/|$)' '*rebuild_grid*'
count match_raw_select bench_reconcile '^raw_select(/|$)' '*BM_raw_select*'
count auto_match bench_reconcile '^auto_match(/|$)' '*Reconciler::autoMatch*'

python3 - "$work/counts" <<'PY'
import sys
counts = dict((n, float(v)) for n, v in (l.split() for l in open(sys.argv[1])))
print()
print(f"{'instructions (callgrind)':28}{'work':>14}{'baseline':>14}{'ratio':>8}  target")
for work, base, target in (("icbc_import", "raw_insert_icbc", 1.6),
                           ("ccb_import", "raw_insert_ccb", 2.0),
                           ("rebuild_grid", "grid_raw_select", 1.5),
                           ("auto_match", "match_raw_select", 2.5)):
    r = counts[work] / counts[base]
    print(f"{work:28}{counts[work] / 1e6:13.1f}M{counts[base] / 1e6:13.1f}M{r:8.2f}  {target}x")
PY
