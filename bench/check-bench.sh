#!/usr/bin/env bash
# The structure check on a generated catalogue (100,000 firms, 300,000 items,
# 1,000,000 relation rows) beside the stock sqlite3 shell rebuilding the same
# indexes with REINDEX on the same files. With nothing to change the check
# reads every table file for objects the program did not make and compares
# each table with its declaration, and writes nothing.
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$config/Quillon"
printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$data" >"$config/Quillon/aliases.cfg"

ms() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%8.0f ms", (e - s) / 1e6 }'; }

start=$(date +%s%N)
XDG_CONFIG_HOME="$config" "$build/quillon" --check >/dev/null
end=$(date +%s%N)
echo "quillon --check (nothing to change):           $(ms "$start" "$end")"

start=$(date +%s%N)
for table in "$data"/*.DB; do
    sqlite3 -cmd ".load $build/storage/libquillon-sqlite" "$table" "REINDEX" >/dev/null
done
end=$(date +%s%N)
echo "sqlite3 shell, REINDEX of every table file:    $(ms "$start" "$end")"

# Start to the main window shown, with the check at start-up (the default),
# in a real X server.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    read -r -t 10 display <&"$fd"
    start=$(date +%s%N)
    DISPLAY=:$display XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$config" "$build/quillon" >/dev/null 2>&1 &
    app=$!
    DISPLAY=:$display timeout 60 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null
    end=$(date +%s%N)
    echo "start to the main window shown (with the check): $(ms "$start" "$end")"
    kill "$app" "$xvfb" 2>/dev/null || true
fi
