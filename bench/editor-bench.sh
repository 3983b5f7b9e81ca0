#!/usr/bin/env bash
# The editors on the generated catalogue beside the sqlite3 shell, and a
# large attached file packed and unpacked beside Python's zlib on the same bytes.
set -euo pipefail
build=${1:-build}
size_mb=${BENCH_ATTACH_MB:-50}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A price-list-like file, as the packer benchmark makes it.
python3 "$(dirname "$0")/lib/pricelist.py" "$dir/price.bin" "$size_mb"

echo "-- the editors, ${size_mb} MB attached file"
"$build/bench/editorbench" "$data" "$dir/price.bin" 2>/dev/null | tee "$dir/out"
item=$(sed -n 's/^# item \([0-9]*\).*/\1/p' "$dir/out")
firm=$(sed -n 's/^# firm \([0-9]*\).*/\1/p' "$dir/out")
extension=$(realpath "$build")/storage/libquillon-sqlite
shell_time() { # label, sql on FIRMS.DB with the other tables attached
    local start end
    start=$(date +%s%N)
    (cd "$data" && sqlite3 -cmd ".load $extension" FIRMS.DB "attach 'CRFIRMS.DB' as c; attach 'ITEMS.DB' as i; $2" >/dev/null)
    end=$(date +%s%N)
    awk -v l="$1" -v s="$start" -v e="$end" 'BEGIN { printf "sqlite3 shell, %-36s %9.1f ms\n", l, (e - s) / 1e6 }'
}
echo "-- reference: the sqlite3 shell, same files, same collation"
shell_time "the item's makers and sellers" "select r.Type, f.Name from c.CRFIRMS r join FIRMS f using (FirmID) where r.ItemID = $item"
shell_time "drop-down first screen" "select FirmID, Name from FIRMS order by Name collate RU limit 30"
shell_time "drop-down prefix search" "select FirmID, Name from FIRMS where upper(Name) like 'Т%' order by Name collate RU limit 30"
shell_time "the firm's items, both lists" "select i.Name, i.Description from c.CRFIRMS r, i.ITEMS i where r.Type = 'm' and r.ItemID = i.ItemID and r.FirmID = $firm;
    select i.Name, i.Description from c.CRFIRMS r, i.ITEMS i where r.Type = 's' and r.ItemID = i.ItemID and r.FirmID = $firm"
echo "-- reference: Python's zlib on the same ${size_mb} MB"
python3 - "$dir/price.bin" <<'PY'
import sys, time, zlib
data = open(sys.argv[1], "rb").read()
start = time.perf_counter()
packed = zlib.compress(data, 9)
middle = time.perf_counter()
zlib.decompress(packed)
end = time.perf_counter()
print(f"{'python zlib: pack at level 9':<50} {(middle - start) * 1000:9.1f} ms")
print(f"{'python zlib: unpack':<50} {(end - middle) * 1000:9.1f} ms")
PY
