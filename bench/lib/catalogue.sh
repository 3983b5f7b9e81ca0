# Shared by the benchmark scripts: the generated catalogue they measure on.
# Sourced, not run.

# Prints the folder of the generated catalogue, generating it on first use.
# The generator makes one folder level only, so its parent is made here: on
# a fresh clone not even build/bench-data exists yet.
generated_catalogue() { # build dir
    local data=${BENCH_CATALOGUE:-$1/bench-data/catalogue}
    if [ ! -f "$data/FIRMS.DB" ]; then
        mkdir -p "$(dirname "$data")"
        "$1/bench/quillon-gen" "$data" --scale "${BENCH_SCALE:-1}" >/dev/null
    fi
    realpath "$data"
}
