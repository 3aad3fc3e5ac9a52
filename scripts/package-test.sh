#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a clean temporary root (dpkg -x)
# and runs the installed programs from there, in a home folder of their own:
# `ledger --demo --screenshot` creates the demo database and renders the bank
# statement window offscreen, `ledger-import` imports the demo's ICBC
# statement into it, `ledger-reconcile` prints a statement, and
# `ledger-admin` backs it up and restores the backup. Checks the package's
# files, its computed dependencies and run paths, and that nothing is
# written into the installed tree.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh | tail -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

dpkg -x "$deb" "$work/root"
usr="$work/root/usr"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in bin/ledger bin/ledger-import bin/ledger-reconcile bin/ledger-admin \
    "lib/$multiarch/ledger/libledgerhost.so" "lib/$multiarch/ledger/libledgercore.so" \
    "lib/$multiarch/ledger/plugins/libcashglide.so" \
    "lib/$multiarch/ledger/plugins/libcashjournal.so" \
    "lib/$multiarch/ledger/plugins/libbankjournal.so" \
    "lib/$multiarch/ledger/plugins/libbankreconcile.so" \
    share/applications/ledger.desktop share/icons/hicolor/scalable/apps/ledger.svg; do
    [ -e "$usr/$f" ] || fail "the package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libsqlite3-0 libfreexl1 libxlsxwriter fonts-noto-cjk; do
    grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
# Run paths relative to the installed files only; the host library found in
# the unpacked tree, not in the build tree.
if readelf -d "$usr"/bin/* "$usr/lib/$multiarch/ledger/plugins/"*.so | grep -E 'R(UN)?PATH' |
    grep -v '\$ORIGIN' | grep -q .; then
    fail "a run path outside \$ORIGIN"
fi
for pair in "ledger libledgerhost.so" "plugins/libcashglide.so libledgerhost.so" \
    "ledger libledgercore.so" "ledger-admin libledgercore.so"; do
    read -r file lib <<<"$pair"
    case "$file" in plugins/*) f="$usr/lib/$multiarch/ledger/$file" ;; *) f="$usr/bin/$file" ;; esac
    found=$(ldd "$f" | awk -v lib="$lib" '$1 == lib { print $3 }')
    [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$usr/lib/$multiarch/ledger/$lib")" ] ||
        fail "$f does not find the installed $lib (${found:-not found})"
done
# The installed command-line programs load no widget libraries.
bash scripts/check-cli-libs.sh "$usr/bin" >/dev/null || fail "a command-line program loads widgets"
find "$work/root" -printf '%P %s\n' | sort >"$work/tree.before"

export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_DOCUMENTS_DIR XDG_CACHE_HOME
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=offscreen

"$usr/bin/ledger" --demo --run-plugin 银行对账单 --screenshot "$work/shot.png" 2>"$work/ledger.err" ||
    fail "ledger --screenshot failed: $(cat "$work/ledger.err")"
grep -q '已创建演示账套' "$work/ledger.err" || fail "no demo database: $(cat "$work/ledger.err")"
[ "$(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "the screenshot is not a PNG"
db="$HOME/.local/share/ledger/ledger/demo.db"
[ -f "$db" ] || fail "the demo database is not in the user's data folder"
statement=$(ls "$HOME/Documents/出纳示例对账单/"工行对账单-*.txt)

"$usr/bin/ledger-import" icbc "$statement" --db "$db" --book 001 --user admin >"$work/import.out" ||
    fail "ledger-import failed: $(cat "$work/import.out")"
ls "$HOME/Documents/出纳示例对账单/" | grep -q '已导入' || fail "the imported statement was not renamed"
# A second import of the same file is refused.
if "$usr/bin/ledger-import" icbc "$(ls "$HOME/Documents/出纳示例对账单/"*已导入*.txt)" --db "$db" \
    --book 001 --user admin >/dev/null 2>&1; then
    fail "a re-import was stored"
fi
set +e
"$usr/bin/ledger-reconcile" --db "$db" --book 001 --user admin --account 100201 >"$work/rec.out"
rc=$?
set -e
[ "$rc" -le 1 ] && grep -q . "$work/rec.out" || fail "ledger-reconcile failed ($rc)"

"$usr/bin/ledger-admin" backup --db "$db" --to "$work/book.ledger-backup.db" >/dev/null
"$usr/bin/ledger-admin" restore --from "$work/book.ledger-backup.db" --db "$db" >/dev/null
ls "$(dirname "$db")" | grep -q '\.replaced$' || fail "the replaced database was not kept"
"$usr/bin/ledger" --demo --run-plugin 银行对账单 --screenshot "$work/shot2.png" 2>"$work/ledger2.err" ||
    fail "ledger on the restored database failed: $(cat "$work/ledger2.err")"

find "$work/root" -printf '%P %s\n' | sort >"$work/tree.after"
cmp -s "$work/tree.before" "$work/tree.after" || fail "the programs wrote into the installed tree"
echo "package-test: $deb installs and runs"
