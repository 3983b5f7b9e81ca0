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

# Starts (or resumes) the benchmark's own server in BUILD/bench-server. It
# keeps PostgreSQL's default durability.
start_bench_server() { # build dir, scripts dir
    export PG_OPTIONS=" " # the defaults: fsync and synchronous commits on
    if [ -f "$1/bench-server/data/PG_VERSION" ]; then
        "$2/test-server.sh" resume "$1/bench-server" >/dev/null
    else
        "$2/test-server.sh" start "$1/bench-server" >/dev/null
    fi
}

# Starts the benchmark's own server and prints the address of its generated
# catalogue, generating it on first use.
generated_server_catalogue() { # build dir, scripts dir
    local server=$1/bench-server
    local admin="postgresql:///postgres?host=$server&user=postgres"
    local uri="postgresql:///quillon_bench?host=$server&user=postgres"
    start_bench_server "$1" "$2"
    if [ -z "$(psql -X -At "$admin" -c "select 1 from pg_database where datname = 'quillon_bench'")" ]; then
        psql -X -q "$admin" -c "create database quillon_bench"
        "$1/bench/quillon-gen" "$uri" --scale "${BENCH_SCALE:-1}" >/dev/null
        psql -X -q "$uri" -c "vacuum analyze"
    fi
    echo "$uri"
}
