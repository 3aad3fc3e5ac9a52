#!/usr/bin/env bash
# Fails when a source includes a header of a folder it may not use. The
# folders' targets (see the CMakeLists.txt files and docs/architecture.md)
# allow these directions only:
#
#   plugin  -> journal, host
#   journal -> entry, import, host
#   entry   -> host
#   import  -> host
#   host    -> (nothing)
#   reconcile -> host
#   app     -> host            (app/ledger_import.cpp also -> import,
#                               app/ledger_reconcile.cpp also -> reconcile)
#   fuzz    -> import, host
#   tests, bench -> anything
#
# A quoted include is resolved by file name against the project's headers
# (names are unique across folders), or as a path relative to the including
# file or to the source root. Generated form headers (ui_*.h) and system
# headers are not checked: CMake gives each target only its own forms.
# Usage: scripts/check-includes.sh [source root]
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

folders=(host entry import journal plugin reconcile app fuzz tests bench)
declare -A allowed=(
    [host]=""
    [entry]="host"
    [import]="host"
    [journal]="entry import host"
    [plugin]="journal host"
    [reconcile]="host"
    [app]="host"
    [fuzz]="import host"
    [tests]="*"
    [bench]="*"
)
# Single files with a wider allowance than their folder.
declare -A allowedFile=(
    [app/ledger_import.cpp]="host import"
    [app/ledger_reconcile.cpp]="host reconcile"
)

# Which folder each header lives in, by file name.
declare -A owner=()
for f in "${folders[@]}"; do
    while IFS= read -r h; do
        owner["$(basename "$h")"]="$f"
    done < <(find "$f" -name '*.h' -not -path '*/build/*')
done

status=0
for f in "${folders[@]}"; do
    while IFS= read -r src; do
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
                        to="$(realpath --relative-to=. "$candidate")"
                        to="${to%%/*}"
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
    done < <(find "$f" \( -name '*.cpp' -o -name '*.h' \) -not -path '*/build/*' | sort)
done
if [ "$status" = 0 ]; then
    echo "include boundaries: ok"
fi
exit "$status"
