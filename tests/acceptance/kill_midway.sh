#!/usr/bin/env bash
# A restore and an import are all or nothing: `quillon --restore` and
# `quillon --import` are killed (kill -9) at many points; after each kill the
# next start finds the catalogue old or new, whole, never a mix. A backup
# killed midway leaves nothing behind once the program starts again.
source "$(dirname "$0")/lib.sh"
export TMPDIR=$T/tmp
mkdir -p "$TMPDIR" "$T/out"
ROWS=${KILL_ROWS:-200000}
HALF=$((ROWS / 2))

printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$DATA" >"$T/alias.cfg"
# A folder the alias names is never made by the program (only on a first start).
mkdir -p "$DATA"
mkdir -p "$XDG_CONFIG_HOME/Quillon"
cp "$T/alias.cfg" "$XDG_CONFIG_HOME/Quillon/aliases.cfg"
"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "with recursive n(i) as (select 1 union all select i + 1 from n where i < $ROWS)
                     insert into FIRMS (FirmID, Name, Address) select i, 'Фирма ' || i, 'Улица ' || i from n"
"$QUILLON" --backup "$T/copy.zip" >/dev/null
q "$DATA/FIRMS.DB" "delete from FIRMS where FirmID > $HALF"
mkdir -p "$T/pristine"
cp -a "$DATA/." "$T/pristine/"

reset() { rm -rf "$T/bin/Data" "$T/bin/.Data."* "$T/bin/Data."* && cp -a "$T/pristine" "$DATA"; }

timed() { # command...: runs it, prints its duration in ms
    local start
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    echo $((($(date +%s%N) - start) / 1000000))
}

# Kills `command` at each point (a share of `duration_ms`), then lets the
# next start complete what the marker says and checks with `check`.
kill_at_points() { # name duration_ms check command...
    local name=$1 duration=$2 check=$3
    shift 3
    for point in 5 15 25 35 45 55 65 75 85 95; do
        reset
        ("$@" >/dev/null 2>&1) &
        local pid=$!
        sleep "$(awk -v d="$duration" -v p="$point" 'BEGIN { printf "%.3f", d * p / 100000 }')"
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        "$QUILLON" --check >/dev/null 2>&1 || fail "$name killed at $point%: the next check failed"
        "$check" "$name killed at $point%"
    done
}

firms_whole() { # what: the firm table holds the old rows or the new ones, each whole
    local state
    state=$(q "$DATA/FIRMS.DB" "select count(*) || ' ' || sum(Address = 'Улица ' || FirmID)
                                 || ' ' || (select count(*) from FIRMS where Name like 'Новая фирма%') from FIRMS")
    case "$state" in
    "$HALF $HALF 0" | "$ROWS $ROWS 0" | "$ROWS $ROWS $HALF") echo "ok - $1: $state" ;;
    *) fail "$1: $state" ;;
    esac
    expect_eq "$1: integrity" ok "$(q "$DATA/FIRMS.DB" 'pragma integrity_check')"
}

reset
duration=$(timed "$QUILLON" --restore "$T/copy.zip")
echo "a whole restore of $ROWS firms takes $duration ms"
expect_eq "restore completes" "$ROWS" "$(q "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
kill_at_points restore "$duration" firms_whole "$QUILLON" --restore "$T/copy.zip"

{
    printf 'Name;Address\r\n'
    seq $((HALF + 1)) "$ROWS" | awk '{ printf "Новая фирма %d;Улица %d\r\n", $1, $1 }'
} >"$T/new.csv"
reset
duration=$(timed "$QUILLON" --import firms "$T/new.csv")
echo "a whole import of $HALF firms takes $duration ms"
expect_eq "import completes" "$ROWS" "$(q "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
kill_at_points import "$duration" firms_whole "$QUILLON" --import firms "$T/new.csv"

# A killed backup leaves a copy of the catalogue in the temporary folder and a
# partial archive beside its target: the next start clears both.
nothing_left() { # what
    local left
    left=$(ls -A "$TMPDIR" "$T/out" | grep -v -e '^copy2\.zip$' -e ':$' -e '^$' || true)
    [ -z "$left" ] || fail "$1: left behind: $left"
    rm -f "$T/out/copy2.zip"
    echo "ok - $1: nothing left behind"
}
duration=$(timed "$QUILLON" --backup "$T/out/copy2.zip")
echo "a whole backup of $HALF firms takes $duration ms"
rm -f "$T/out/copy2.zip"
kill_at_points backup "$duration" nothing_left "$QUILLON" --backup "$T/out/copy2.zip"

# Programs at once. Two imports of one file: the second adds nothing the
# first added (or, kept waiting too long, says the table is busy). A restore
# and an import: each ends with words that say what happened, and the
# catalogue is the restored one, with the import's rows when it came after.
SOME=20000
head -n $((SOME + 1)) "$T/new.csv" >"$T/some.csv"
clear_words() { # what, files...: each said what it did, or why not in plain words
    local what=$1 file
    shift
    for file in "$@"; do
        grep -q -e '^Добавлено' -e 'Каталог восстановлен' -e 'занята другой программой' \
            -e 'папку каталога заменили' "$file" ||
            fail "$what: unclear words: $(cat "$file")"
        ! grep -q -i -e 'I/O' -e 'unable to open' "$file" || fail "$what: $(cat "$file")"
    done
}
reset
"$QUILLON" --import firms "$T/some.csv" >"$T/first.out" 2>&1 &
first=$!
"$QUILLON" --import firms "$T/some.csv" >"$T/second.out" 2>&1 || true
wait "$first" || true
clear_words "two imports at once" "$T/first.out" "$T/second.out"
expect_eq "two imports at once add each name once" $((HALF + SOME)) \
    "$(q "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
expect_eq "one of the two imports added the names" 1 "$(cat "$T/first.out" "$T/second.out" | grep -c "^Добавлено: $SOME;")"

for delay in 0 0.2 0.5 1 2; do
    reset
    "$QUILLON" --restore "$T/copy.zip" >"$T/restore.out" 2>&1 &
    restoring=$!
    sleep "$delay"
    "$QUILLON" --import firms "$T/some.csv" >"$T/import.out" 2>&1 || true
    wait "$restoring" || true
    clear_words "restore and import $delay s apart" "$T/restore.out" "$T/import.out"
    echo "restore and import $delay s apart: $(head -n 1 "$T/import.out")"
    count=$(q "$DATA/FIRMS.DB" 'select count(*) from FIRMS')
    [ "$count" = "$ROWS" ] || [ "$count" = $((ROWS + SOME)) ] || fail "restore and import $delay s apart: $count firms"
    expect_eq "restore and import $delay s apart: $count firms, integrity" ok "$(q "$DATA/FIRMS.DB" 'pragma integrity_check')"
done
