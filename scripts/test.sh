#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [preset]   (asan by default;
# "debug" is quicker). Installs the packages the project needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-asan}
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset"
