#!/usr/bin/env bash
# Drives the host application in a real X session, as a user would, and saves a
# screenshot of every step. Builds nothing: give it the build folder (default
# build/debug). Needs Xvfb, openbox, xdotool and ImageMagick's `import`.
#
#   bash scripts/gui-check.sh [BUILD_DIR]
#
# It starts `ledger` on a fresh demo database (in a temporary home folder),
# opens the bank statement, queries the whole year, adds, modifies and deletes
# a row, opens a picker with the keyboard, opens the import menu and the ICBC
# import's file dialog, and exports the grid. The screenshots go to a folder it
# prints; look at them.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/debug}
LEDGER="$BUILD/bin/ledger"
[[ -x "$LEDGER" ]] || { echo "gui-check: $LEDGER not found; build first" >&2; exit 2; }
for tool in Xvfb openbox xdotool import; do
    command -v "$tool" >/dev/null || { echo "gui-check: $tool is missing (scripts/packages.txt)" >&2; exit 2; }
done

OUT=$(mktemp -d /tmp/ledger-gui.XXXXXX)
export HOME="$OUT/home" XDG_CONFIG_HOME="$OUT/home/.config" XDG_DATA_HOME="$OUT/home/.local/share"
export XDG_RUNTIME_DIR="$OUT/run"
mkdir -p "$HOME/Documents" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

# A free display number.
N=90
while [[ -e /tmp/.X11-unix/X$N || -e /tmp/.X$N-lock ]]; do N=$((N + 1)); done
export DISPLAY=:$N
PIDS=()
cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
openbox >"$OUT/openbox.log" 2>&1 &
PIDS+=($!)
sleep 1

STEP=0
shot() { # shot NAME: the whole screen
    sleep "${PAUSE:-0.8}"
    STEP=$((STEP + 1))
    local f
    f=$(printf '%s/%02d-%s.png' "$OUT" "$STEP" "$1")
    import -window root "$f"
    echo "  $f"
}
key() { xdotool key --clearmodifiers --delay 120 "$@"; }
typ() { xdotool type --delay 80 "$1"; }
# Waits for a window whose title contains the text and activates it.
waitwin() {
    local id
    id=$(timeout 15 xdotool search --sync --onlyvisible --name "$1" | tail -1) || {
        echo "gui-check: no window \"$1\"" >&2
        shot "missing-window"
        exit 1
    }
    xdotool windowactivate --sync "$id" 2>/dev/null || true
    sleep 0.5
}

echo "screenshots in $OUT:"
"$LEDGER" --demo --run-plugin 银行对账单 >"$OUT/ledger.log" 2>&1 &
PIDS+=($!)
waitwin "银行对账单"
# The first start creates the demo database; let the window manager settle.
sleep 2
waitwin "银行对账单"
shot "statement-opened"

# The whole year: the first date is three Tabs after 单位(账套), where the
# focus starts; F5 queries.
YEAR=$(date +%Y)
key Tab Tab Tab
typ "${YEAR}0101"
key F5
shot "year-queried"

# A new row: Ctrl+N; Tab to 结算方式, F4 opens its picker, typing filters,
# Enter chooses.
key ctrl+n
waitwin "新增"
shot "entry-dialog"
key Tab Tab Tab Tab
key F4
waitwin "选择结算方式"
shot "picker-opened"
typ "05"
shot "picker-filtered"
key Return
waitwin "新增"
shot "picker-chosen"
key ctrl+a
typ "1234.56"
key Tab Tab
typ "GUI check"
shot "entry-filled"
key alt+s
sleep 1
shot "after-save"
key Escape
waitwin "银行对账单"
shot "back-in-journal"

# Modify with Enter on a grid row. After a query the focus is in the second
# amount; three Tabs reach the grid, Ctrl+End and Up pick the last entry
# above the month's and year's totals.
key Tab Tab Tab
key ctrl+End Up Up
key Return
sleep 1
shot "modify-dialog"
key Escape
waitwin "银行对账单"

# Delete asks first; No keeps the row.
key Delete
sleep 1
shot "delete-confirmation"
key alt+n
waitwin "银行对账单"

# The import menu, then the ICBC import's file dialog (Ctrl+3).
key alt+i
shot "import-menu"
key Escape
sleep 0.3
# The demo's sample statements, copied under plain names: xdotool cannot type
# every Chinese character reliably into a file name box.
MONTH=$(date +%Y%m)
STATEMENTS="$OUT/statements"
mkdir -p "$STATEMENTS"
cp "$HOME/Documents/出纳示例对账单/工行对账单-$MONTH.txt" "$STATEMENTS/icbc-$MONTH.txt"
cp "$HOME/Documents/出纳示例对账单/建行对账单-$MONTH.xls" "$STATEMENTS/ccb-$MONTH.xls"
key ctrl+3
sleep 1.5
shot "icbc-file-dialog"
typ "$STATEMENTS/icbc-$MONTH.txt"
key Return
sleep 2
shot "icbc-import-asks-or-reports"
key Return
sleep 2
shot "icbc-import-done"
key Return
waitwin "^银行对账单$"

# The CCB workbook (Ctrl+4).
key ctrl+4
sleep 1.5
typ "$STATEMENTS/ccb-$MONTH.xls"
key Return
sleep 2
shot "ccb-import-asks-or-reports"
key Return
sleep 2
shot "ccb-import-done"
key Return
waitwin "^银行对账单$"
key F5
shot "after-imports"

# Export: the suggested file name in the documents folder.
key alt+o
sleep 1.5
shot "export-dialog"
key Return
sleep 1.5
shot "export-done"
key Return
waitwin "银行对账单"

# The 出纳 menu of the main window (Alt+C, then the item's digit) opens each
# journal; choosing one that is open raises it instead of opening a second.
main=$(xdotool search --onlyvisible --name "账务处理" | tail -1)
for d in 1 2 3 1 2 3; do
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    sleep 0.4
    key alt+c "$d"
    sleep 1.2
done
shot "journals-opened-twice"
count=$(xdotool search --onlyvisible --name "^银行对账单$" | wc -l)
echo "  windows titled 银行对账单: $count (expected 1)"
waitwin "^银行对账单$"

# A narrow window: the tool bar's overflow and the filter panel's scroll bar.
id=$(xdotool search --onlyvisible --name "^银行对账单$" | tail -1)
xdotool windowsize "$id" 700 450
shot "narrow-window"
echo "done: $STEP screenshots in $OUT"
