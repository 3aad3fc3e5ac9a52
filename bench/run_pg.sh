#!/usr/bin/env bash
# The store on a PostgreSQL server against raw libpq work on the same rows,
# beside the same figures on SQLite, all in one run:
#   ICBC import of 100,000 lines   vs one COPY of the same rows into the same
#                                   table of a fresh database (target <= 2x)
#   journal grid of 100,000 rows   vs one libpq select of the same rows
#                                   (target <= 2x)
# Builds the bench preset, starts a throwaway cluster with
# scripts/pg-cluster.sh, runs, prints both times of every ratio, stops it.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench -j2

work=$(mktemp -d)
# Run as root, the cluster belongs to the postgres user, who must reach its folder.
chmod 755 "$work"
cluster="$work/pg"
cleanup() {
    bash scripts/pg-cluster.sh stop "$cluster" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
uri=$(bash scripts/pg-cluster.sh start "$cluster")
export LEDGER_BENCH_PG="$uri"
export QT_QPA_PLATFORM=offscreen

run() {  # run OUT PROGRAM ARGS...: google-benchmark JSON into OUT
    local out=$1
    shift
    "$@" --benchmark_enable_random_interleaving=true --benchmark_out="$out" \
        --benchmark_out_format=json >/dev/null ||
        { rc=$?; echo "$(basename "$1") failed (exit $rc); its figures are missing" >&2; rm -f "$out"; }
}
# Imports first, the journal in a process of its own (one host session at a time).
run "$work/pg_import.json" build/bench/bin/bench_pg --benchmark_filter='icbc' \
    --benchmark_repetitions=3
run "$work/pg_journal.json" build/bench/bin/bench_pg --benchmark_filter='select|grid' \
    --benchmark_repetitions=5
run "$work/sqlite_import.json" build/bench/bin/bench_import --benchmark_filter='icbc' \
    --benchmark_repetitions=3
run "$work/sqlite_journal.json" build/bench/bin/bench_journal \
    --benchmark_filter='raw_select|rebuild_grid' --benchmark_repetitions=5

python3 - "$work" <<'PY'
import json, sys, os
times = {}
for name in ("pg_import", "pg_journal", "sqlite_import", "sqlite_journal"):
    path = os.path.join(sys.argv[1], name + ".json")
    if not os.path.exists(path):
        continue
    data = json.load(open(path))
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        if b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message')}")
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        runs.setdefault(b["name"].split("/")[0], []).append(
            (b["real_time"] * scale, b["cpu_time"] * scale))
    for k, v in runs.items():
        wall = sorted(r[0] for r in v)
        cpu = sorted(r[1] for r in v)
        times[k] = (wall[len(wall) // 2], cpu[len(cpu) // 2])

def ratio(what, engine, work, base, basename, target=2.0):
    if work not in times or base not in times:
        print(f"{what:28}{engine:12}not measured")
        return
    (w, c), (bw, bc) = times[work], times[base]
    r = w / bw
    print(f"{what:28}{engine:12}{w:10.1f} ms / {basename} {bw:8.1f} ms = {r:5.2f} (wall)"
          f"  cpu {c:8.1f} / {bc:8.1f} ms   target <= {target}x: {'ok' if r <= target else 'OVER'}")

print()
print("median times of the repetitions; the ratio is on wall time (the server's work is not the")
print("client's cpu time)")
ratio("ICBC 100,000 lines", "SQLite", "icbc_import", "raw_insert_icbc", "insert")
ratio("ICBC 100,000 lines", "PostgreSQL", "icbc_import_pg", "raw_copy_icbc", "COPY  ")
ratio("journal grid 100,000 rows", "SQLite", "rebuild_grid", "raw_select", "select")
ratio("journal grid 100,000 rows", "PostgreSQL", "rebuild_grid_pg", "raw_select_pg", "select")
PY
