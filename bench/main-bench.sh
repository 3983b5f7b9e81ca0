#!/usr/bin/env bash
# The main window on the generated catalogue, beside the sqlite3 shell running
# the equivalent SQL on the same files.
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
"$build/bench/mainbench" "$data" 2>/dev/null
extension=$(realpath "$build")/storage/libquillon-sqlite

shell_time() { # label, first file, sql
    local start end
    start=$(date +%s%N)
    (cd "$data" && sqlite3 -cmd ".load $extension" "$2" "$3" >/dev/null)
    end=$(date +%s%N)
    awk -v l="$1" -v s="$start" -v e="$end" 'BEGIN { printf "sqlite3 shell, %-32s %8.1f ms\n", l, (e - s) / 1e6 }'
}
echo "-- reference: the sqlite3 shell, same files, same collation"
shell_time "both lists, first screen" FIRMS.DB "select FirmID, Name from FIRMS order by Name collate RU limit 30;
    attach 'ITEMS.DB' as i; select ItemID, Name from i.ITEMS order by Name collate RU limit 30"
shell_time "folder switch, first screen" FIRMS.DB "attach 'CRFOLDERS.DB' as c;
    select * from FIRMS where FirmID in (select FirmID from c.CRFOLDERS where FolderID = 2) order by Name collate RU limit 30"
shell_time "group switch, first screen" FIRMS.DB "attach 'GRPFRM.DB' as g;
    select * from FIRMS where FirmID in (select FirmID from g.GRPFRM where GroupID = 1) order by Name collate RU limit 30"
shell_time "prefix search" FIRMS.DB "select * from FIRMS where upper(Name) like 'Т%' order by Name collate RU limit 1"
shell_time "prefix no name has (whole list)" FIRMS.DB "select * from FIRMS where upper(Name) like 'ТЩ%' order by Name collate RU limit 1"
shell_time "last screen" FIRMS.DB "select * from FIRMS order by Name collate RU desc limit 30"
