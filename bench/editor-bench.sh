#!/usr/bin/env bash
# The firm editor on the generated catalogue, and a large attached file
# packed and unpacked through it beside Python's zlib on the same bytes.
set -euo pipefail
build=${1:-build}
size_mb=${BENCH_ATTACH_MB:-50}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A price-list-like file, as the packer benchmark makes it.
python3 "$(dirname "$0")/lib/pricelist.py" "$dir/price.bin" "$size_mb"

echo "-- the firm editor, ${size_mb} MB attached file"
"$build/bench/editorbench" "$data" "$dir/price.bin" 2>/dev/null
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
