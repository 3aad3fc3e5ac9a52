#!/usr/bin/env bash
# Fails when a command-line program loads the widget stack: chuna-import,
# chuna-reconcile, chuna-admin and chuna-funds link the host's core library only, so
# none of Qt's Widgets, Gui or PrintSupport libraries may be among the
# libraries they load.
# Usage: scripts/check-cli-libs.sh BIN_DIR
set -euo pipefail
bin="${1:?usage: check-cli-libs.sh BIN_DIR}"
status=0
for program in chuna-import chuna-reconcile chuna-admin chuna-funds; do
    libs=$(ldd "$bin/$program") || { echo "$program: ldd failed" >&2; exit 1; }
    if bad=$(grep -oE 'libQt6(Widgets|Gui|PrintSupport)[^ ]*' <<<"$libs"); then
        echo "$program loads the widget stack: $(tr '\n' ' ' <<<"$bad")" >&2
        status=1
    fi
done
[ "$status" = 0 ] && echo "command-line programs without widgets: ok"
exit "$status"
