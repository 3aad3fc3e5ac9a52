#!/usr/bin/env bash
# Builds the Debian package and tries it as an office's administrator would:
# lintian accepts it (no error, no warning but the maintainer's address);
# `apt-get install ./chuna_….deb` installs it beside Debian's own `ledger`
# package, and both programs run; a normal user (a throwaway account made for
# the test) runs the four programs from /usr/bin on a demo database in their
# home folder: `chuna --demo --screenshot` creates it and renders the bank
# statement window offscreen, `chuna-import` imports the demo's ICBC
# statement, `chuna-reconcile` prints a statement, `chuna-admin` backs it up
# and restores the backup. Checks the package's files, its computed
# dependencies and run paths, that nothing is written into the installed
# tree, and that `apt-get purge` leaves none of its files behind. Needs root
# (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh | tail -n 1)
fail() { echo "package-test: $*" >&2; exit 1; }
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
tester=chuna-pkgtest
work=$(mktemp -d)
chmod 755 "$work"
cleanup() {
    "${as_root[@]}" userdel -r "$tester" >/dev/null 2>&1 || true
    "${as_root[@]}" apt-get purge -y -qq chuna >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# lintian: the overrides the package installs name the one tag it may raise.
lintian --fail-on error,warning "$deb" \
    >"$work/lintian.out" 2>&1 || fail "lintian: $(cat "$work/lintian.out")"

# Debian's `ledger` first, then ours beside it.
command -v ledger >/dev/null || fail "Debian's ledger package is not installed (scripts/packages.txt)"
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "$deb" >"$work/apt.out" 2>&1 ||
    fail "apt-get install: $(cat "$work/apt.out")"
dpkg-query -W -f='${Status}\n' ledger | grep -q 'install ok installed' || fail "Debian's ledger was removed"
ledger --version | grep -qi ledger || fail "Debian's ledger no longer runs"
apt-get -s upgrade 2>/dev/null | grep -E '^(Inst|Remv) (chuna|ledger) ' &&
    fail "apt plans to replace one package with the other"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=/usr/lib/$multiarch/chuna
dpkg -L chuna >"$work/files"
for f in /usr/bin/chuna /usr/bin/chuna-import /usr/bin/chuna-reconcile /usr/bin/chuna-admin \
    /usr/bin/chuna-funds "$lib/plugins/libfundsdaily.so" /usr/share/man/man1/chuna-funds.1.gz \
    "$lib/libledgerhost.so" "$lib/libledgercore.so" "$lib/plugins/libcashglide.so" \
    "$lib/plugins/libcashjournal.so" "$lib/plugins/libbankjournal.so" \
    "$lib/plugins/libbankreconcile.so" /usr/share/applications/chuna.desktop \
    /usr/share/icons/hicolor/scalable/apps/chuna.svg /usr/share/metainfo/chuna.metainfo.xml \
    /usr/share/doc/chuna/copyright /usr/share/doc/chuna/changelog.Debian.gz \
    /usr/share/man/man1/chuna.1.gz /usr/share/man/man1/chuna-import.1.gz \
    /usr/share/man/man1/chuna-reconcile.1.gz /usr/share/man/man1/chuna-admin.1.gz; do
    grep -qxF "$f" "$work/files" || fail "the package lacks $f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for l in libqt6widgets6 libsqlite3-0 libfreexl1 libxlsxwriter fonts-noto-cjk; do
    grep -q "$l" <<<"$depends" || fail "Depends lacks $l: $depends"
done
# Run paths relative to the installed files only; each program and plug-in
# finds the installed host libraries.
if readelf -d /usr/bin/chuna* "$lib"/plugins/*.so | grep -E 'R(UN)?PATH' | grep -v '\$ORIGIN' | grep -q .; then
    fail "a run path outside \$ORIGIN"
fi
for pair in "/usr/bin/chuna libledgerhost.so" "$lib/plugins/libcashglide.so libledgerhost.so" \
    "/usr/bin/chuna libledgercore.so" "/usr/bin/chuna-admin libledgercore.so"; do
    read -r f l <<<"$pair"
    found=$(ldd "$f" | awk -v lib="$l" '$1 == lib { print $3 }')
    [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$lib/$l")" ] ||
        fail "$f does not find the installed $l (${found:-not found})"
done
bash scripts/check-cli-libs.sh /usr/bin >/dev/null || fail "a command-line program loads widgets"
installed_tree() { grep -v '/\.$' "$work/files" | while read -r f; do
    [ -f "$f" ] && stat -c '%n %s %Y' "$f"; done; }
installed_tree >"$work/tree.before"

# A normal user, with a home of their own.
"${as_root[@]}" userdel -r "$tester" >/dev/null 2>&1 || true
"${as_root[@]}" useradd -m -d "$work/home" -s /bin/bash "$tester"
as_user() {
    "${as_root[@]}" runuser -u "$tester" -- env -i HOME="$work/home" PATH=/usr/bin:/bin \
        LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" "$@"
}
"${as_root[@]}" install -d -m 700 -o "$tester" "$work/runtime"
out=$work/home
# The demo users' password, in a file only the user may read.
pw=$out/demo-password
as_user sh -c "umask 077 && printf 'demo123\\n' >'$pw'"
sign=(--user admin --password-file "$pw")

as_user chuna --demo "${sign[@]}" --run-plugin 银行对账单 --screenshot "$out/shot.png" 2>"$work/chuna.err" ||
    fail "chuna --screenshot failed: $(cat "$work/chuna.err")"
grep -q '已创建演示账套' "$work/chuna.err" || fail "no demo database: $(cat "$work/chuna.err")"
[ "$(head -c 8 "$out/shot.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "the screenshot is not a PNG"
db="$out/.local/share/chuna/chuna/demo.db"
[ -f "$db" ] || fail "the demo database is not in the user's data folder"
[ "$(stat -c %U "$db")" = "$tester" ] || fail "the demo database does not belong to the user"
statement=$(ls "$out/Documents/出纳示例对账单/"工行对账单-*.txt)

as_user chuna-import icbc "$statement" --db "$db" --book 001 "${sign[@]}" >"$work/import.out" ||
    fail "chuna-import failed: $(cat "$work/import.out")"
ls "$out/Documents/出纳示例对账单/" | grep -q '已导入' || fail "the imported statement was not renamed"
# A second import of the same file is refused.
if as_user chuna-import icbc "$(ls "$out/Documents/出纳示例对账单/"*已导入*.txt)" --db "$db" \
    --book 001 "${sign[@]}" >/dev/null 2>&1; then
    fail "a re-import was stored"
fi
set +e
as_user chuna-reconcile --db "$db" --book 001 "${sign[@]}" --account 100201 >"$work/rec.out"
rc=$?
set -e
[ "$rc" -le 1 ] && grep -q . "$work/rec.out" || fail "chuna-reconcile failed ($rc)"

as_user chuna-admin backup --db "$db" --to "$out/book.ledger-backup.db" "${sign[@]}" >/dev/null ||
    fail "chuna-admin backup failed"
as_user chuna-admin restore --from "$out/book.ledger-backup.db" --db "$db" "${sign[@]}" >/dev/null ||
    fail "chuna-admin restore failed"
ls "$(dirname "$db")" | grep -q '\.replaced$' || fail "the replaced database was not kept"
as_user chuna --demo "${sign[@]}" --run-plugin 银行对账单 --screenshot "$out/shot2.png" 2>"$work/chuna2.err" ||
    fail "chuna on the restored database failed: $(cat "$work/chuna2.err")"
# Each manual page is readable and names the options of its program.
zcat /usr/share/man/man1/chuna-import.1.gz | grep -q -- '--again' ||
    fail "chuna-import's manual page lacks its options"

installed_tree >"$work/tree.after"
cmp -s "$work/tree.before" "$work/tree.after" || fail "the programs wrote into the installed tree"

# Purged, nothing of it is left; Debian's ledger stays.
"${as_root[@]}" apt-get purge -y -qq chuna >/dev/null 2>&1 || fail "apt-get purge failed"
while read -r f; do
    [ "$f" = /. ] && continue
    case "$f" in */chuna* | */chuna/* | */libledger*)
        [ -e "$f" ] && fail "purging left $f" ;;
    esac
done <"$work/files"
[ -e "$lib" ] && fail "purging left $lib"
ledger --version >/dev/null || fail "Debian's ledger no longer runs after the purge"
echo "package-test: $deb passes lintian, installs beside Debian's ledger, runs and purges cleanly"
