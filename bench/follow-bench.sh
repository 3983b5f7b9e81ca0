#!/usr/bin/env bash
# Another desk's rename reaching a list of 100,000 firms, on a folder and on
# a server catalogue, each way beside the sqlite3 shell or psql running the
# statements that way ran, in the same run.
set -euo pipefail
build=$(realpath "${1:-build}")
here=$(dirname "$0")
source "$here/lib/catalogue.sh"
work=$(mktemp -d)
server=$build/bench-server
trap '"$here/../scripts/test-server.sh" pause "$server" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# Sums the run times a tool printed, one line per way. Each way's statements
# run twice and the second run is timed: the program's connection has the
# list's pages in its cache already.
reference() { # tool label, statements file, command...
    local label=$1 file=$2
    shift 2
    awk -v dir="$work" '/^-- way: / { way = $3; next } { print >> (dir "/" way ".sql") }' "$file"
    for way in whole row; do
        "$@" "$work/$way.sql" | awk -v l="$label" -v w="$way" '
            /^Run Time: real/ { t += $4 * 1000; n++ } /^Time: / { t += $2; n++ }
            END { printf "%s, the %s way'"'"'s statements: %8.1f ms (%d statements)\n", l, w, t, n }'
        rm -f "$work/$way.sql"
    done
}

data=$(generated_catalogue "$build")
extension=$build/storage/libquillon-sqlite
echo "-- folder catalogue"
"$build/bench/followbench" "$data" --statements "$work/folder.sql"
reference "sqlite3 shell" "$work/folder.sql" \
    bash -c 'cd "$0" && { echo "attach '"'"'FIRMS.DB'"'"' as FIRMS;"; echo ".output /dev/null"; cat "$2"; echo ".timer on"; cat "$2"; } | sqlite3 -cmd ".load $1" :memory:' \
    "$data" "$extension"

uri=$(generated_server_catalogue "$build" "$here/../scripts")
echo "-- server catalogue"
"$build/bench/followbench" "$uri" --statements "$work/server.sql"
reference "psql" "$work/server.sql" \
    bash -c '{ echo "\\o /dev/null"; cat "$1"; echo "\\timing on"; cat "$1"; } | psql -X -q "$0"' "$uri"
