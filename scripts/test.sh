#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [preset...]
# By default the suite runs twice: in the GCC build with AddressSanitizer and
# UndefinedBehaviorSanitizer ("asan") and in the same build made with clang
# ("asan-clang"); "debug" alone is quicker. Installs the packages the project
# needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$#" -eq 0 ]; then
    set -- asan asan-clang
fi
bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
for preset in "$@"; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
    ctest --preset "$preset"
done
