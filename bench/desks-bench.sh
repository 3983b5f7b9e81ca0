#!/usr/bin/env bash
# Several desks on one catalogue at once (bench/desksload.cpp): 20 desks on a
# catalogue on a PostgreSQL server of the benchmark's own and 4 on a folder
# catalogue, each for LOAD_SECONDS (60). Beside the server run, pgbench with
# as many clients posts the same single-row update of the same few hundred
# firms for the same time, so the program's post is seen beside the server's
# own cost of one.
set -euo pipefail
build=$(realpath "${1:-build}")
here=$(dirname "$0")
seconds=${LOAD_SECONDS:-60}
server=$build/bench-server
admin="postgresql:///postgres?host=$server&user=postgres"
uri="postgresql:///quillon_load?host=$server&user=postgres"
work=$(mktemp -d)
source "$here/lib/catalogue.sh"
trap '"$here/../scripts/test-server.sh" pause "$server"; rm -rf "$work"' EXIT

start_bench_server "$build" "$here/../scripts"
psql -X -q "$admin" -c "drop database if exists quillon_load" -c "create database quillon_load"
"$build/quillon" --catalogue "$uri" --check >/dev/null

echo "-- 20 desks on a server catalogue, $seconds s"
"$build/bench/desksload" "$uri" 20 "$seconds"

echo "-- pgbench, 20 clients, $seconds s: the same update of one of 300 firms"
cat >"$work/update.sql" <<'SQL'
\set id random(1, 300)
UPDATE firms SET phones = (coalesce(nullif(phones, ''), '0')::bigint + 1)::text WHERE firmid = :id;
SQL
(cd "$work" && pgbench -n -c 20 -j 2 -T "$seconds" -f update.sql -l "$uri" >/dev/null 2>&1)
cat "$work"/pgbench_log.* | awk '{ print $3 / 1000 }' | sort -n |
    awk '{ v[NR] = $1 } END { printf "posts %d, median %.1f ms, 95th percentile %.1f ms\n",
                              NR, v[int(NR * 0.5) + 1], v[int(NR * 0.95) + 1] }'

echo "-- 4 desks on a folder catalogue, $seconds s"
mkdir "$work/folder"
"$build/quillon" --catalogue "$work/folder" --check >/dev/null
"$build/bench/desksload" "$work/folder" 4 "$seconds"
