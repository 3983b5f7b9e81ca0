#!/usr/bin/env bash
# Backups, restores, export and import on a generated catalogue (100,000
# firms, 300,000 items, 1,000,000 relation rows, 2,000 packed files), each
# beside the stock tools doing the same work in the same run: sqlite3's
# .backup of every file plus zip of the copies; unzip plus integrity_check of
# every file; the shell's .mode csv output.
set -euo pipefail
build=$(realpath "${1:-build}")
source "$(dirname "$0")/lib/catalogue.sh"
source_data=$(generated_catalogue "$build")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/Data
cp -a "$source_data" "$data"
mkdir -p "$work/config/Quillon"
printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$data" >"$work/config/Quillon/aliases.cfg"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/share
quillon() { (cd "$build" && ./quillon "$@"); }

clock() { date +%s%N; }
ms() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%8.0f ms", (e - s) / 1e6 }'; }
size() { du -m "$1" | cut -f1; }

start=$(clock)
quillon --backup "$work/copy.zip" >/dev/null
end=$(clock)
echo "quillon --backup ($(size "$data") MB of tables, $(size "$work/copy.zip") MB archive): $(ms "$start" "$end")"

start=$(clock)
mkdir "$work/shell-copy"
for table in "$data"/*.DB; do
    sqlite3 "$table" ".backup '$work/shell-copy/$(basename "$table")'"
done
(cd "$work/shell-copy" && zip -q "$work/shell.zip" ./*.DB)
end=$(clock)
echo "sqlite3 .backup of every file + zip:             $(ms "$start" "$end")"

start=$(clock)
quillon --restore "$work/copy.zip" >/dev/null
end=$(clock)
echo "quillon --restore (verified, swapped, checked):  $(ms "$start" "$end")"

start=$(clock)
mkdir "$work/shell-restore"
(cd "$work/shell-restore" && unzip -q "$work/shell.zip")
for table in "$work/shell-restore"/*.DB; do
    sqlite3 -cmd ".load $build/storage/libquillon-sqlite" "$table" "pragma integrity_check" >/dev/null
done
end=$(clock)
echo "unzip + sqlite3 integrity_check of every file:   $(ms "$start" "$end")"

start=$(clock)
quillon --export firms "$work/firms.csv" >/dev/null
end=$(clock)
echo "quillon --export firms to CSV ($(($(wc -l <"$work/firms.csv") - 1)) rows):      $(ms "$start" "$end")"

start=$(clock)
sqlite3 -cmd ".load $build/storage/libquillon-sqlite" -header -csv "$data/FIRMS.DB" \
    "select * from FIRMS order by Name collate RU" >"$work/shell.csv"
end=$(clock)
echo "sqlite3 .mode csv of the same rows:              $(ms "$start" "$end")"

start=$(clock)
quillon --export firms "$work/firms.xlsx" >/dev/null
end=$(clock)
echo "quillon --export firms to XLSX:                  $(ms "$start" "$end")"

# 100,000 firms new to the catalogue, each into a folder (the export holds no
# keys: its first column is the name).
awk 'NR == 1 { print; next } { print "Новая " NR " " $0 }' "$work/firms.csv" >"$work/new.csv"
"$build/bench/importbench" "$data" "$work/new.csv"

# A workbook read back (every name known, so nothing is written), beside
# openpyxl reading the same workbook's values.
"$build/bench/importbench" "$data" "$work/firms.xlsx"
start=$(clock)
/usr/bin/python3 -c "import openpyxl, sys; sum(1 for _ in openpyxl.load_workbook(sys.argv[1], read_only=True).active.iter_rows(values_only=True))" "$work/firms.xlsx"
end=$(clock)
echo "openpyxl reading the same workbook:              $(ms "$start" "$end")"
