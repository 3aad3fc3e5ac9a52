#!/usr/bin/env bash
# Builds the host application and the plug-ins and starts it on the demo book
# set (--demo: created on first start without asking). Extra arguments go to
# the application, e.g.
#   scripts/run.sh --run-plugin 银行对账单
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/bin/chuna --demo "$@"
