#!/usr/bin/env bash
# The stream packer on a 100 MB file beside Python's zlib on the same bytes:
# packing at the best and at no compression, and unpacking what was packed.
set -euo pipefail
build=${1:-build}
size_mb=${BENCH_PACK_MB:-100}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# A price-list-like file: words and numbers that deflate shrinks about
# threefold, with a share of bytes it cannot shrink (scanned pictures).
python3 "$(dirname "$0")/lib/pricelist.py" "$dir/data" "$size_mb"

python_time() { # expression over `data`, input file, output file
    python3 - "$1" "$2" "$3" <<'PY'
import sys, time, zlib
data = open(sys.argv[2], "rb").read()
start = time.perf_counter()
result = eval(sys.argv[1])
print(f"{time.perf_counter() - start:.3f}")
open(sys.argv[3], "wb").write(result)
PY
}

report() { # label, our figures ("seconds peak input output"), Python's seconds
    read -r ours peak input output <<<"$2"
    awk -v l="$1" -v o="$ours" -v p="$3" -v m="$peak" -v i="$input" -v u="$output" 'BEGIN {
        printf "%-22s packer %7.3f s   python zlib %7.3f s   ratio %5.2f   peak +%6.1f MB (in+out %6.1f MB)\n",
               l, o, p, o / p, m / 1048576, (i + u) / 1048576 }'
}

echo "-- ${size_mb} MB, the packer beside Python's zlib (same machine, same run)"
for method in max none; do
    level=9
    [ "$method" = none ] && level=0
    ours=$("$build/bench/packbench" pack "$method" "$dir/data" "$dir/packed")
    theirs=$(python_time "zlib.compress(data, $level)" "$dir/data" "$dir/py-packed")
    report "pack at cl${method^}" "$ours" "$theirs"

    ours=$("$build/bench/packbench" unpack none "$dir/packed" "$dir/unpacked")
    theirs=$(python_time "zlib.decompress(data)" "$dir/packed" "$dir/py-unpacked")
    report "unpack from cl${method^}" "$ours" "$theirs"
    cmp -s "$dir/data" "$dir/unpacked" || { echo "unpacked bytes differ" >&2; exit 1; }
done
