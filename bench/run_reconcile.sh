#!/usr/bin/env bash
# Automatic bank reconciliation of 100,000 journal rows against 100,000
# statement rows, against a raw select of both sides' rows in the same run
# (target within 2.5x), with the peak memory of a matching run. bench/run.sh
# calls this after its own benchmarks; it also runs on its own.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target bench_reconcile

out=$(mktemp --suffix=.json)
trap 'rm -f "$out"' EXIT
build/bench/bin/bench_reconcile \
    --benchmark_repetitions=${REPS:-9} --benchmark_enable_random_interleaving=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@" >/dev/null

python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
ctx = data["context"]
runs, cpus, extra, byRep = {}, {}, {}, {}
for b in data["benchmarks"]:
    if b.get("run_type") == "aggregate":
        continue
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    name = b.get("run_name", b["name"]).split("/")[0]
    runs.setdefault(name, []).append(b["real_time"] * scale)
    cpus.setdefault(name, []).append(b["cpu_ms"])
    byRep.setdefault(b.get("repetition_index", 0), {})[name] = b["cpu_ms"]
    if name == "auto_match":
        extra = b
median = lambda name, d=runs: sorted(d[name])[len(d[name]) // 2]
print()
print(f"journal rows {ctx['journal_rows']}, statement rows {ctx['statement_rows']}, "
      f"matching {ctx['matching_rows']}")
for name in ("raw_select", "auto_match"):
    print(f"{name:24}{median(name):10.1f} ms wall, {median(name, cpus):8.1f} ms CPU "
          f"(medians of {len(runs[name])})")
wall = median("auto_match") / median("raw_select")
cpu = median("auto_match", cpus) / median("raw_select", cpus)
# The machine's speed drifts over a run; a repetition of each benchmark runs
# next to the other's of the same index (interleaved), so the ratio of each
# such pair is steadier than the ratio of the two medians.
paired = sorted(r["auto_match"] / r["raw_select"] for r in byRep.values()
                if "auto_match" in r and "raw_select" in r)
pairedMedian = paired[len(paired) // 2]
print(f"ratio match / select    {cpu:10.2f} CPU, {wall:.2f} wall (ratio of the medians)")
print(f"  per repetition (CPU)  {' '.join(f'{x:.2f}' for x in paired)}")
print(f"  median of those       {pairedMedian:10.2f}   target within 2.5x (CPU): "
      f"{'ok' if pairedMedian <= 2.5 else 'OVER'}")
print(f"pairs made              {extra['pairs']:10.0f}   journal rows left {extra['left_journal']:.0f}")
print(f"VmRSS before a run      {extra['rss_before_mb']:10.1f} MB")
print(f"VmHWM (peak) in a run   {extra['peak_rss_mb']:10.1f} MB")
PY
