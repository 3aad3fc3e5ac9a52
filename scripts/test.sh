#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [preset...]
# By default the suite runs twice: in the GCC build with AddressSanitizer and
# UndefinedBehaviorSanitizer ("asan") and in the same build made with clang
# ("asan-clang"); "debug" alone is quicker. Installs the packages the project
# needs first, and checks the include boundaries between the folders.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$#" -eq 0 ]; then
    set -- asan asan-clang
fi
bash scripts/install-deps.sh
# Includes may cross folders only the way the targets declare (also a ctest
# test, so a plain ctest run checks it too).
bash scripts/check-includes.sh
export QT_QPA_PLATFORM=offscreen
# The store's tests run a second time ("pg/…") on a throwaway PostgreSQL
# cluster in a temporary folder (a Unix socket only), stopped on exit. Without
# PostgreSQL that half is reported as skipped.
if [ -z "${LEDGER_TEST_PG:-}" ]; then
    pgdir=$(mktemp -d)
    if uri=$(bash scripts/pg-cluster.sh start "$pgdir"); then
        trap 'bash scripts/pg-cluster.sh stop "$pgdir" >/dev/null 2>&1 || true; rm -rf "$pgdir"' EXIT
        export LEDGER_TEST_PG="$uri"
        echo "== PostgreSQL test server: $uri"
    else
        rm -rf "$pgdir"
        echo "== PostgreSQL is not available: the PostgreSQL half of the tests (pg/…) is skipped"
    fi
fi
for preset in "$@"; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
    ctest --preset "$preset"
done
