#!/usr/bin/env bash
# Builds the bench preset, runs the journal benchmark and prints the absolute
# times, the ratio of the grid to a plain select, and the memory held.
# Extra arguments go to the benchmark (for example --benchmark_repetitions=3).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench -j2

out=$(mktemp --suffix=.json)
trap 'rm -f "$out"' EXIT
# Repetitions run interleaved in random order, so that a slow spell of a shared
# machine falls on both sides of the ratio rather than on one.
QT_QPA_PLATFORM=offscreen build/bench/bin/bench_journal \
    --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@"

python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
ctx = data["context"]
runs = {}
for b in data["benchmarks"]:
    if b.get("run_type") == "aggregate":
        continue
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    runs.setdefault(b.get("run_name", b["name"]), []).append(
        (b["real_time"] * scale, b["cpu_time"] * scale))
def median(name, i):
    v = sorted(r[i] for r in runs[name])
    return v[len(v) // 2]
print()
print(f"journal rows              {ctx['journal_rows']}")
print(f"{'':24}{'wall ms':>10}{'cpu ms':>10}")
for name in ("raw_select", "load_only", "rebuild_grid"):
    if name in runs:
        print(f"{name:24}{median(name, 0):10.1f}{median(name, 1):10.1f}")
verdict = lambda ok: "ok" if ok else "OVER"
if "rebuild_grid" in runs and "raw_select" in runs:
    wall = median("rebuild_grid", 0) / median("raw_select", 0)
    cpu = median("rebuild_grid", 1) / median("raw_select", 1)
    print(f"ratio grid / select       {wall:10.2f}{cpu:10.2f}   target within 1.5x: {verdict(cpu <= 1.5)} (cpu)")
rss = float(ctx["rss_mb"])
print(f"VmRSS after rebuild       {rss:10.1f} MB        target under 200 MB: {verdict(rss < 200)}")
print(f"  of which before window  {float(ctx['rss_before_window_mb']):10.1f} MB")
print(f"VmHWM (peak) by then      {float(ctx['peak_rss_mb']):10.1f} MB")
PY

# The statement imports against the plain insert of the same rows (see
# rawInsert in bench_import.cpp): seven repetitions run interleaved, each the
# CPU time of one run; the ratio is the median of the ratios of the pairs of
# the same repetition, so a slow spell of the machine falls on both sides.
QT_QPA_PLATFORM=offscreen build/bench/bin/bench_import \
    --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true \
    --benchmark_out="$out" --benchmark_out_format=json >/dev/null
python3 - "$out" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
wall, cpu, byRep = {}, {}, {}
for b in data["benchmarks"]:
    if b.get("run_type") == "aggregate":
        continue
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    name = b.get("run_name", b["name"]).split("/")[0]
    wall.setdefault(name, []).append(b["real_time"] * scale)
    cpu.setdefault(name, []).append(b["cpu_ms"])
    byRep.setdefault(b.get("repetition_index", 0), {})[name] = b["cpu_ms"]
median = lambda v: sorted(v)[len(v) // 2]
print()
print(f"{'':24}{'wall ms':>10}{'cpu ms':>10}   (medians of 7)")
for name in ("raw_insert_icbc", "icbc_import", "raw_insert_ccb", "ccb_import"):
    if name in cpu:
        print(f"{name:24}{median(wall[name]):10.1f}{median(cpu[name]):10.1f}")
for imp, raw, target, what in (("icbc_import", "raw_insert_icbc", 1.6, "100,000-line ICBC statement"),
                               ("ccb_import", "raw_insert_ccb", 2.0, "20,000-row CCB workbook")):
    if imp not in cpu or raw not in cpu:
        continue
    paired = sorted(r[imp] / r[raw] for r in byRep.values() if imp in r and raw in r)
    p = median(paired)
    print(f"{what}: import {median(cpu[imp]):.1f} ms / baseline {median(cpu[raw]):.1f} ms CPU")
    print(f"  per repetition (CPU)  {' '.join(f'{x:.2f}' for x in paired)}")
    print(f"  median of those       {p:10.2f}   target within {target}x (CPU): "
          f"{'ok' if p <= target else 'OVER'}")
PY

# Peak resident memory of the command-line import of 100,000 and 1,000,000
# ICBC lines (and 10,000,000 with BENCH_HUGE=1, timed once), each into a fresh
# book. The book's password hash is made at the smallest cost, as in the test
# suite: a real one makes the sign-in itself hold Argon2id's 64 MiB for the
# moment it checks the password, before the import reads anything.
work=$(mktemp -d)
trap 'rm -f "$out"; rm -rf "$work"' EXIT
(umask 077 && echo bench123 >"$work/pw")
echo
sizes="100000 1000000"
[ "${BENCH_HUGE:-0}" = 1 ] && sizes="$sizes 10000000"
for lines in $sizes; do
    LEDGER_TEST_PASSWORD_COST=minimum build/bench/bin/bench_import --make-book "$work/book$lines.db"
    build/bench/bin/bench_import --make-icbc "$lines" "$work/icbc$lines.txt"
    if ! /usr/bin/time -v build/bench/bin/chuna-import icbc "$work/icbc$lines.txt" \
        --db "$work/book$lines.db" --book 001 --user u1 --password-file "$work/pw" \
        >/dev/null 2>"$work/time$lines.txt"; then
        echo "chuna-import $lines lines failed:"; cat "$work/time$lines.txt"; exit 1
    fi
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time$lines.txt")
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time$lines.txt")
    cpu=$(sed -n 's/.*User time (seconds): //p' "$work/time$lines.txt")
    mb=$((kb / 1024))
    verdict=$([ "$mb" -le 64 ] && echo ok || echo OVER)
    printf 'chuna-import %8d lines: peak RSS %4d MB (target <= 64 MB: %s), wall %s, user CPU %s s\n' \
        "$lines" "$mb" "$verdict" "$wall" "$cpu"
    rm -f "$work/icbc$lines"*.txt "$work/book$lines.db"*
done

# The daily funds report of one day (20 accounts, 200,000 rows in the year)
# against the raw select of the day's rows plus one balance lookup per account.
echo
build/bench/bin/bench_funds 15

# Automatic bank reconciliation against a raw select of both sides' rows.
bash bench/run_reconcile.sh

# The same works counted in instructions, which do not drift.
[ "${BENCH_INSTRUCTIONS:-1}" = 0 ] || bash bench/instructions.sh
