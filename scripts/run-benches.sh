#!/usr/bin/env bash
# Runs every benchmark script in bench/ against the build directory given.
set -euo pipefail
build=${1:-build}
for b in bench/*.sh; do
    [ -e "$b" ] || continue
    echo "== $b"
    bash "$b" "$build"
done
