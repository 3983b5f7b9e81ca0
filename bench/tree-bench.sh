#!/usr/bin/env bash
# The group assignment dialog on the generated catalogue, beside the sqlite3
# shell doing the same reads and writes on the same files.
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
# The firm with the most types, so that the marking has work to do.
firm=$(sqlite3 "$data/GRPFRM.DB" "select FirmID from GRPFRM group by FirmID order by count(*) desc limit 1")
"$build/bench/treebench" "$data" "$firm" ${TREE_SHOT:+"$TREE_SHOT"} 2>/dev/null
extension=$(realpath "$build")/storage/libquillon-sqlite
groups=$(sqlite3 "$data/GRFIRMS.DB" "select count(*) from GRFIRMS")

shell_time() { # label, sql on GRPFRM.DB
    local start end
    start=$(date +%s%N)
    (cd "$data" && sqlite3 -cmd ".load $extension" GRPFRM.DB "$2" >/dev/null)
    end=$(date +%s%N)
    awk -v l="$1" -v s="$start" -v e="$end" 'BEGIN { printf "sqlite3 shell, %-32s %8.1f ms\n", l, (e - s) / 1e6 }'
}
echo "-- reference: the sqlite3 shell, same files"
shell_time "type tree and the firm's rows" "attach 'GRFIRMS.DB' as g;
    select GroupID, UpGroupID, Description from g.GRFIRMS order by UpGroupID, Description collate RU;
    select GroupID from GRPFRM where FirmID = $firm"
# One statement, one durable commit per row, as the dialog writes them.
inserts=$(for ((g = 1; g <= groups; g++)); do
    echo "insert or ignore into GRPFRM (FirmID, GroupID) values (-1, $g);"; done)
shell_time "$groups rows added one by one" "pragma synchronous=full; $inserts"
deletes=$(for ((g = 1; g <= groups; g++)); do
    echo "delete from GRPFRM where FirmID = -1 and GroupID = $g;"; done)
shell_time "$groups rows deleted one by one" "pragma synchronous=full; $deletes"
