#!/usr/bin/env bash
# A list of a million firms: the engine beside the stock sqlite3 shell on the same file.
set -euo pipefail
build=${1:-build}
dir=${BENCH_DIR:-$build/bench-data/engine}
mkdir -p "$dir"
"$build/bench/enginebench" "$dir" "${BENCH_ROWS:-1000000}"

shell_time() { # label, sql
    local start end
    start=$(date +%s%N)
    sqlite3 "$dir/FIRMS.DB" "$2" >/dev/null
    end=$(date +%s%N)
    awk -v l="$1:" -v s="$start" -v e="$end" 'BEGIN { printf "sqlite3 shell, %-26s %8.1f ms\n", l, (e - s) / 1e6 }'
}
echo "-- reference: the sqlite3 shell on the same file (binary order, no Russian collation)"
shell_time "order by name limit 30" "select * from FIRMS order by name limit 30"
shell_time "prefix, first by name" "select * from FIRMS where upper(Name) like 'ТЕХ%' order by name limit 1"
shell_time "last by name" "select * from FIRMS order by name desc limit 1"
shell_time "30 names by key" "$(for id in $(seq 1 30); do echo "select Name from FIRMS where FirmID = $id;"; done)"
