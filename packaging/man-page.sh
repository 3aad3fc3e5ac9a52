#!/usr/bin/env bash
# Writes a gzipped manual page for one program from its own --help text, so
# the page lists exactly the options the program takes.
#   man-page.sh PROGRAM-FILE NAME "一句话说明" "说明段落" OUTPUT.1.gz
# The program runs under the name NAME (so its usage line shows that name),
# offscreen, with HOME shown as "~" in the default paths it prints.
set -euo pipefail
program=$1 name=$2 summary=$3 description=$4 out=$5
version=${CHUNA_VERSION:-}
day=${CHUNA_DATE:-$(date -u +%Y-%m-%d)}
help=$(cd / && HOME='~' XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_RUNTIME_DIR=/tmp \
    QT_QPA_PLATFORM=offscreen bash -c 'exec -a "$0" "$1" --help 2>&1' "$name" "$program" || true)
# Qt prints its own warnings about the environment first; the page starts at
# the usage line.
help=$(sed -n '/^用法/,$p' <<<"$help")
[ -n "$help" ] || { echo "man-page.sh: $program printed no help" >&2; exit 1; }
# roff: a backslash is written \e, and a line may not start with . or '.
body=$(sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" <<<"$help")
upper=$(tr '[:lower:]' '[:upper:]' <<<"$name")
others=$(for p in chuna chuna-import chuna-reconcile chuna-admin chuna-funds; do
    [ "$p" = "$name" ] || printf '.BR %s (1)\n' "$p"; done | sed '$!s/$/ ,/')
mkdir -p "$(dirname "$out")"
{
    printf '.TH %s 1 "%s" "chuna %s" "用户命令"\n' "$upper" "$day" "$version"
    printf '.SH 名称\n%s \\- %s\n' "$name" "$summary"
    # groff cannot break Chinese text without spaces: the description is
    # set unfilled, a clause to a line.
    printf '.SH 说明\n.nf\n%s\n.fi\n' "$(sed 's/\([，。；]\)/\1\n/g' <<<"$description" | sed '/^$/d')"
    printf '.SH 用法和选项\n.nf\n%s\n.fi\n' "$body"
    printf '.SH 另见\n%s\n' "$others"
} | gzip -9n >"$out"
