#!/usr/bin/env bash
# Every list action on a catalogue on a PostgreSQL server of the benchmark's
# own (100,000 firms, 300,000 items, 1,000,000 relation rows), each figure
# beside psql running the same statements in the same run. The server keeps
# PostgreSQL's default durability; its catalogue is generated on first use
# and kept in the build folder.
set -euo pipefail
build=$(realpath "${1:-build}")
here=$(dirname "$0")
server=$build/bench-server
work=$(mktemp -d)
trap '"$here/../scripts/test-server.sh" pause "$server"; rm -rf "$work"' EXIT
source "$here/lib/catalogue.sh"
uri=$(generated_server_catalogue "$build" "$here/../scripts")

echo "-- the list actions on the server catalogue, each beside psql on its statements"
"$build/bench/listbench" "$uri" --statements "$work/statements.sql" 2>/dev/null | tee "$work/out"

# Each action's statements, run by psql in one session: the sum of their times.
awk -v dir="$work" '/^-- action: / { n++; label = substr($0, 12); print label > (dir "/label" n); next }
    { print >> (dir "/action" n ".sql") }' "$work/statements.sql"
for label in "$work"/label*; do
    n=${label##*label}
    [ -f "$work/action$n.sql" ] || continue
    { echo '\timing on'; echo '\o /dev/null'; cat "$work/action$n.sql"; } >"$work/run$n.sql"
    psql -X -q "$uri" -f "$work/run$n.sql" 2>&1 |
        awk -v l="$(cat "$label")" '/^Time: / { t += $2; s++ }
            END { printf "psql, %-46s %8.1f ms  (%d statements)\n", l, t, s }'
done
