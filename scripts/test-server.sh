#!/usr/bin/env bash
# A PostgreSQL server of the tests' own.
#   start DIR   makes a fresh cluster in DIR (initdb), starts it listening on
#               a Unix socket in DIR only (no TCP) and prints the URI of its
#               maintenance database;
#   stop DIR    stops it and removes DIR;
#   pause DIR   stops it, keeping its data (a server gone in the middle of work);
#   resume DIR  starts it again on that data.
# As root, the server runs as the `postgres` system user, since PostgreSQL
# refuses to run as root.
set -euo pipefail

action=${1:?start, stop, pause or resume}
dir=$(realpath -m "${2:?the folder of the server}")
bin=${PG_BIN:-/usr/lib/postgresql/15/bin}

as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

pause() {
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_server "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    fi
}

resume() {
    # Durability is not what the tests measure: without fsync a commit costs
    # no disk flush. The benchmark's server keeps the defaults.
    as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
        -o "-k $dir -c listen_addresses='' ${PG_OPTIONS:--c fsync=off}" start >/dev/null
}

case "$action" in
start)
    pause
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    as_server "$bin/initdb" -D "$dir/data" -E UTF8 --locale=C.UTF-8 -A trust --no-sync \
        -U postgres >"$dir/initdb.log"
    resume
    echo "postgresql:///postgres?host=$dir&user=postgres"
    ;;
stop)
    pause
    rm -rf "$dir"
    ;;
pause) pause ;;
resume) resume ;;
*)
    echo "usage: $0 start|stop|pause|resume DIR" >&2
    exit 2
    ;;
esac
