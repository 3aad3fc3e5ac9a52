#!/usr/bin/env bash
# Fails when a source includes a header of a folder it may not use. The
# folders' targets (see the CMakeLists.txt files and docs/architecture.md)
# allow these directions only ("core" is host/store, host/files and
# host/books, the rooms of libledgercore; "host" is every room of the host):
#
#   host/store    -> (nothing)
#   host/files    -> host/store
#   host/books    -> host/files, host/store
#   host/forms    -> core
#   host/boundary -> host/forms, core
#   demo          -> core
#   import        -> core                 (the readers and statement importers)
#   import/ui     -> import, host
#   reconcile     -> core                 (the matching core)
#   reconcile/ui  -> reconcile, host
#   funds         -> core                 (the daily funds report)
#   funds/ui      -> funds, host
#   entry         -> host
#   journal       -> entry, import, import/ui, host
#   plugin        -> journal, host
#   office        -> host                 (the host application's own windows)
#   app           -> host, demo            (the command-line programs: core, demo,
#                                           and import, reconcile or funds, below; main.cpp
#                                           and MainWindow.cpp also office)
#   fuzz          -> import, core
#   tests, bench  -> anything
#
# A quoted include is resolved by file name against the project's headers
# (names are unique across folders), or as a path relative to the including
# file or to the source root. Generated form headers (ui_*.h) and system
# headers are not checked: CMake gives each target only its own forms.
# Usage: scripts/check-includes.sh [source root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

core="host/store host/files host/books"
host="$core host/forms host/boundary"
folders=(host/store host/files host/books host/forms host/boundary demo import import/ui
    reconcile reconcile/ui funds funds/ui entry journal plugin office app fuzz tests bench)
declare -A allowed=(
    [host/store]=""
    [host/files]="host/store"
    [host/books]="host/files host/store"
    [host/forms]="$core"
    [host/boundary]="host/forms $core"
    [demo]="$core"
    [import]="$core"
    [import/ui]="import $host"
    [reconcile]="$core"
    [reconcile/ui]="reconcile $host"
    [funds]="$core"
    [funds/ui]="funds $host"
    [entry]="$host"
    [journal]="entry import import/ui $host"
    [plugin]="journal $host"
    [office]="$host"
    [app]="demo $host"
    [fuzz]="import $core"
    [tests]="*"
    [bench]="*"
)
# The command-line programs run without the widget stack: the host's core
# only (and the one plug-in folder each runs).
cli="demo $core"
declare -A allowedFile=(
    [app/main.cpp]="office demo $host"
    [app/MainWindow.cpp]="office $host"
    [app/MainWindow.h]="office $host"
    [app/ledger_import.cpp]="import $cli"
    [app/ledger_reconcile.cpp]="reconcile $cli"
    [app/ledger_funds.cpp]="funds $cli"
    [app/ledger_admin.cpp]="$cli"
    [app/CommandLine.cpp]="$cli"
    [app/CommandLine.h]="$cli"
)
for f in app/Admin*.cpp app/Admin*.h; do
    [ -e "$f" ] && allowedFile[$f]="$cli"
done

# A folder's own files, not those of its subfolders that are folders of
# their own here.
own_files() { # own_files FOLDER PATTERN...
    local f="$1"
    shift
    find "$f" -maxdepth 1 -type f \( "$@" \) | sort
}

# Which folder each header lives in, by file name.
declare -A owner=()
for f in "${folders[@]}"; do
    while IFS= read -r h; do
        owner["$(basename "$h")"]="$f"
    done < <(own_files "$f" -name '*.h')
done

status=0
for f in "${folders[@]}"; do
    while IFS= read -r src; do
        src="${src#./}"
        rule="${allowedFile[$src]-${allowed[$f]}}"
        [ "$rule" = "*" ] && continue
        while IFS=: read -r line inc; do
            name="$(basename "$inc")"
            case "$name" in ui_*.h) continue ;; esac
            to=""
            if [ "$name" != "$inc" ]; then
                # A path: relative to the including file, else to the root.
                for candidate in "$(dirname "$src")/$inc" "$inc"; do
                    if [ -f "$candidate" ]; then
                        to="$(dirname "$(realpath --relative-to=. "$candidate")")"
                        break
                    fi
                done
            else
                to="${owner[$name]-}"
            fi
            [ -z "$to" ] || [ "$to" = "$f" ] && continue
            ok=0
            for a in $rule; do [ "$a" = "$to" ] && ok=1; done
            if [ "$ok" = 0 ]; then
                echo "$src:$line: includes \"$inc\" from $to/, which $f/ may not use (allowed: ${rule:-none})" >&2
                status=1
            fi
        done < <(grep -n -o '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]*"' "$src" |
                 sed -E 's/^([0-9]+):.*"([^"]*)"/\1:\2/')
    done < <(own_files "$f" -name '*.cpp' -o -name '*.h')
done
if [ "$status" = 0 ]; then
    echo "include boundaries: ok"
fi
exit "$status"
