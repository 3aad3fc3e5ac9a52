#!/usr/bin/env bash
# Drives the host application in a real X session, as a cashier would, by
# keys, and saves a screenshot of every step. Builds nothing: give it the build
# folder (default build/debug). Needs Xvfb, openbox, xdotool and ImageMagick's
# `import`.
#
#   bash scripts/gui-check.sh [BUILD_DIR]
#
# It starts `chuna` on a fresh demo database (in a temporary home folder),
# opens the bank statement and, by keys: queries the year (F5), adds a row
# (picker by F4, a summary completed as it is typed), modifies it (Enter on
# the grid), deletes it (Delete, 是), queries again, filters by part of a
# summary, previews the year, walks the import wizard's mapping page, imports
# the ICBC statement through a folder typed into the file dialog and the CCB
# workbook, exports the grid, opens every journal twice from the main window
# and narrows the window.
#
# After each journal command it checks where the grid's cursor is: the window
# says so on standard error (logging category chuna.journal.cursor) and the
# check compares that with the row the command worked on. It prints "ok" or
# "FAIL" per check and exits 1 when one failed. The screenshots go to a folder
# it prints; look at them.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build/debug}
LEDGER="$BUILD/bin/chuna"
[[ -x "$LEDGER" ]] || { echo "gui-check: $LEDGER not found; build first" >&2; exit 2; }
for tool in Xvfb openbox xdotool import; do
    command -v "$tool" >/dev/null || { echo "gui-check: $tool is missing (scripts/packages.txt)" >&2; exit 2; }
done

OUT=$(mktemp -d /tmp/chuna-gui.XXXXXX)
export HOME="$OUT/home" XDG_CONFIG_HOME="$OUT/home/.config" XDG_DATA_HOME="$OUT/home/.local/share"
export XDG_RUNTIME_DIR="$OUT/run"
mkdir -p "$HOME/Documents" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
# The journal window says where its cursor is after every command.
export QT_LOGGING_RULES="chuna.journal.cursor.debug=true"
LOG="$OUT/chuna.log"

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

# Answers the import's message boxes ("提示") with Enter, one screenshot each;
# a further Enter would reach the grid, where it opens the row.
answer_messages() {
    local k
    for k in 1 2 3; do
        sleep 2
        xdotool search --onlyvisible --name "^提示$" >/dev/null 2>&1 || break
        shot "$1-message-$k"
        key Return
    done
}

# The cursor trace: "chuna.journal.cursor: <command> row=<grid row> date=…
# summary=… debit=… credit=… focus=<widget>".
FAILS=0
traced() { grep -a -c "chuna.journal.cursor: $1 " "$LOG" || true; }
# after COMMAND BEFORE: waits for a trace line of the command beyond the
# BEFORE lines there were, and prints the newest.
after() {
    local i
    for i in $(seq 50); do
        [[ $(traced "$1") -gt $2 ]] && break
        sleep 0.1
    done
    grep -a "chuna.journal.cursor: $1 " "$LOG" | tail -1 | sed 's/^chuna.journal.cursor: //'
}
check() { # check WHAT LINE REGEX
    if [[ "$2" =~ $3 ]]; then
        echo "  ok   $1: $2"
    else
        echo "  FAIL $1: ${2:-no trace line} (wanted /$3/)"
        FAILS=$((FAILS + 1))
    fi
}
field() { # field NAME LINE: one key=value of a trace line (values may hold blanks)
    sed -E "s/.* $1=(.*)( [a-z]+=.*|$)/\\1/; s/ [a-z]+=.*//" <<<"$2"
}

echo "screenshots in $OUT:"
# The demo users' password, from a file only this user may read (the sign-in
# window is checked by the test suite).
PASSWORD_FILE="$HOME/demo-password"
printf 'demo123\n' >"$PASSWORD_FILE" && chmod 600 "$PASSWORD_FILE"
"$LEDGER" --demo --password-file "$PASSWORD_FILE" --run-plugin 银行对账单 >"$LOG" 2>&1 &
PIDS+=($!)
waitwin "银行对账单"
# The first start creates the demo database; let the window manager settle.
sleep 2
waitwin "银行对账单"
shot "statement-opened"

# The whole year: the first date is three Tabs after 单位(账套), where the
# focus starts; F5 queries and leaves the focus in the grid on the first
# journal row.
YEAR=$(date +%Y)
key Tab Tab Tab
typ "${YEAR}0101"
n=$(traced 查询)
key F5
line=$(after 查询 "$n")
check "F5 of the year: the first journal row, in the grid" "$line" "row=[0-9]+ date=$YEAR-.* summary=[^ ].* focus=Cell$"
shot "year-queried"

# A new row: Ctrl+N; Tab to 结算方式, F4 opens its picker, typing filters,
# Enter chooses and moves on to the debit. "1e30" gives 130 (only digits are
# taken), then the amount; Tab Tab to 摘要, where typing "手续" offers the
# summaries that contain it: Down and Enter take "银行手续费".
n=$(traced 新增)
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
typ "1e30"
shot "debit-takes-only-digits"
key ctrl+a
typ "1234.56"
key Tab Tab
# xdotool types Chinese through a remapped key; the completion needs a part.
xdotool type --delay 150 "手续"
sleep 0.8
shot "summary-completions"
key Down Return
key End
typ " GUI"
shot "entry-filled"
key alt+s
waitwin "^银行对账单$"
line=$(after 新增 "$n")
check "保存退出: the row just added" "$line" "summary=银行手续费 GUI debit=1234.56 credit=0.00 focus=Cell$"
added_row=$(field row "$line")
shot "after-add"

# Modify with Enter on the grid (the cursor is on the new row): five Tabs
# from the date to the debit.
n=$(traced 修改)
key Return
waitwin "修改"
shot "modify-dialog"
key Tab Tab Tab Tab Tab
key ctrl+a
typ "2345.67"
key alt+s
waitwin "^银行对账单$"
line=$(after 修改 "$n")
check "修改: the row just changed" "$line" "row=$added_row .*summary=银行手续费 GUI debit=2345.67 .*focus=Cell$"
shot "after-modify"

# Delete asks "确定要删除吗？"; 是 deletes, and the cursor goes to the row after
# it, or the one before when it was the month's last.
# (The demo's statement rows end before this month, so the row added today
# is its month's only one: the neighbour is the last row of the month before.)
n=$(traced 删除)
key Delete
sleep 1
shot "delete-confirmation"
key alt+y
waitwin "^银行对账单$"
line=$(after 删除 "$n")
check "删除: a journal row next to the deleted one" "$line" "row=[0-9]+ date=$YEAR-[0-9-]+ summary=[^ ]+ .*focus=Cell$"
row=$(field row "$line")
if [[ "$line" != *"GUI"* && $row -le $added_row ]]; then
    echo "  ok   删除: the deleted row is gone; the cursor on row $row, not after row $added_row"
else
    echo "  FAIL 删除: the cursor is on row $row: $line"
    FAILS=$((FAILS + 1))
fi
shot "after-delete"

# F5 again: the cursor stays on the row it was on. Two rows up first.
key Up Up
n=$(traced 查询)
key F5
line=$(after 查询 "$n")
check "F5: the row the cursor was on" "$line" "row=$((row - 2)) .*focus=Cell$"

# Part of a summary: shift+Tab twice from the grid reaches 摘要; "手续费"
# finds the rows that contain it ("银行手续费").
key shift+Tab shift+Tab
xdotool type --delay 150 "手续费"
n=$(traced 查询)
key F5
line=$(after 查询 "$n")
check "摘要 filter: rows containing 手续费" "$line" "summary=[^ ]*手续费.* focus=Cell$"
shot "filtered-by-part-of-a-summary"
key shift+Tab shift+Tab ctrl+a BackSpace
n=$(traced 查询)
key F5
line=$(after 查询 "$n")
check "F5 without the filter: still on that row" "$line" "summary=[^ ]*手续费.* focus=Cell$"

# The preview of the year (Ctrl+Shift+P): at the page's width, the heading
# with the account and the whole period.
key ctrl+shift+p
waitwin "打印预览"
sleep 1
shot "preview-of-the-year"
key Escape
waitwin "^银行对账单$"

# The wizard's mapping page by keys (Ctrl+1): the file typed, Enter goes on
# to the mapping page with the focus in the field list; Tab leaves it and
# Shift+Tab comes back; Down picks a field, Enter opens the column picker,
# Down and Enter map it.
STATEMENTS="$HOME/Documents/gui-statements"
mkdir -p "$STATEMENTS"
printf '日期,摘要,收入,支出\n%s-01-15,货款,100.00,\n' "$YEAR" >"$STATEMENTS/wizard.csv"
key ctrl+1
waitwin "数据导入向导"
typ "$STATEMENTS/wizard.csv"
key Return
sleep 1
shot "wizard-mapping-page"
key Tab
sleep 0.3
shot "wizard-tab-leaves-the-list"
key shift+Tab
key Down Down Down
sleep 0.3
shot "wizard-field-chosen"
key Return
waitwin "映射字段"
shot "wizard-column-picker"
key Down Down Down Return
waitwin "数据导入向导"
shot "wizard-field-mapped"
key Escape
waitwin "^银行对账单$"

# The import menu, then the ICBC import's file dialog (Ctrl+3): the folder's
# name typed and Enter enter the folder, then the file's name. The sample
# statements are copied under plain names: xdotool cannot type every Chinese
# character reliably into a file name box.
key alt+i
shot "import-menu"
key Escape
sleep 0.3
MONTH=$(date +%Y%m)
cp "$HOME/Documents/出纳示例对账单/工行对账单-$MONTH.txt" "$STATEMENTS/icbc-$MONTH.txt"
cp "$HOME/Documents/出纳示例对账单/建行对账单-$MONTH.xls" "$STATEMENTS/ccb-$MONTH.xls"
key ctrl+3
sleep 1.5
shot "icbc-file-dialog"
key ctrl+a
typ "$HOME/Documents"
key Return
sleep 0.5
typ "gui-statements"
key Return
sleep 0.8
shot "icbc-folder-entered"
n=$(traced 工行对账单导入)
typ "icbc-$MONTH"
key Return
answer_messages "icbc-import"
waitwin "^银行对账单$"
line=$(after 工行对账单导入 "$n")
check "工行对账单导入: back in the grid" "$line" "row=[0-9]+ .*focus=Cell$"

# The CCB workbook (Ctrl+4).
n=$(traced 建行对账单导入)
key ctrl+4
sleep 1.5
typ "$STATEMENTS/ccb-$MONTH.xls"
key Return
answer_messages "ccb-import"
waitwin "^银行对账单$"
line=$(after 建行对账单导入 "$n")
check "建行对账单导入: back in the grid" "$line" "row=[0-9]+ .*focus=Cell$"
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
check "one window titled 银行对账单" "$count" "^1$"
waitwin "^银行对账单$"

# A narrow window: the tool bar's overflow and the filter panel's scroll bar.
id=$(xdotool search --onlyvisible --name "^银行对账单$" | tail -1)
xdotool windowsize "$id" 700 450
shot "narrow-window"
echo "done: $STEP screenshots in $OUT; $FAILS failed check(s)"
[[ $FAILS -eq 0 ]]
