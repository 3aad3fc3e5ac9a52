#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks, listening only on a
# Unix socket in its own folder (no TCP port).
#
#   scripts/pg-cluster.sh start DIR   makes DIR/data, starts the server and
#                                     prints the connection URI of the
#                                     "ledger" database on it
#   scripts/pg-cluster.sh stop DIR    stops it (the folder stays; remove it)
#   scripts/pg-cluster.sh uri DIR     prints the URI again
#
# The server refuses to run as root: run as root, the cluster belongs to the
# "postgres" user (created by Debian's postgresql package) and the folder is
# handed to it. Local connections are trusted: the socket is reachable only
# through the folder, so no password is set or needed.
set -euo pipefail

bindir() {
    local d
    d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    if [ -z "$d" ] || [ ! -x "$d/initdb" ]; then
        echo "PostgreSQL server programs not found (Debian package postgresql)" >&2
        exit 3
    fi
    echo "$d"
}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

owner() {
    if [ "$(id -u)" -eq 0 ]; then echo postgres; else id -un; fi
}

uri() {
    local dir
    dir=$(cd "$1" && pwd)
    echo "postgresql:///ledger?host=$dir&user=$(owner)"
}

cmd=${1:-}
dir=${2:-}
if [ -z "$cmd" ] || [ -z "$dir" ]; then
    echo "usage: $0 start|stop|uri DIR" >&2
    exit 2
fi

case "$cmd" in
start)
    bin=$(bindir)
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir"
        chmod 700 "$dir"
    fi
    if [ ! -f "$dir/data/PG_VERSION" ]; then
        as_owner "$bin/initdb" -D "$dir/data" -U "$(owner)" -A trust -E UTF8 \
            --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
            { cat "$dir/initdb.log" >&2; exit 1; }
    fi
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=100" start >/dev/null ||
        { cat "$dir/server.log" >&2; exit 1; }
    as_owner "$bin/psql" -h "$dir" -U "$(owner)" -d postgres -qAtc \
        "SELECT 1 FROM pg_database WHERE datname = 'ledger'" | grep -q 1 ||
        as_owner "$bin/createdb" -h "$dir" -U "$(owner)" ledger
    uri "$dir"
    ;;
stop)
    bin=$(bindir)
    dir=$(cd "$dir" && pwd)
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    fi
    ;;
uri)
    uri "$dir"
    ;;
*)
    echo "usage: $0 start|stop|uri DIR" >&2
    exit 2
    ;;
esac
