#!/usr/bin/env bash
# The search and options windows on the generated catalogue (100,000 firms,
# 300,000 items), each figure beside the sqlite3 shell on the same files.
set -euo pipefail
build=${1:-build}
source "$(dirname "$0")/lib/catalogue.sh"
data=$(generated_catalogue "$build")
"$build/bench/findbench" "$data" "$(realpath "$build")/storage/libquillon-sqlite" 2>/dev/null
