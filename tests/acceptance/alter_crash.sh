#!/usr/bin/env bash
# A table's alter and its new key are all or nothing: `quillon --check`
# widening a field of a large table and moving its key to that field is
# killed (kill -9) at many points; after each kill every row and value is
# there, with the old structure and key or with the new ones. A key moved to
# repeated values is refused and leaves every file as it was.
source "$(dirname "$0")/lib.sh"
ROWS=${ALTER_ROWS:-200000}

mkdir -p "$T/pristine"
printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$DATA" >"$T/alias.cfg"
# A folder the alias names is never made by the program (only on a first start).
mkdir -p "$DATA"
mkdir -p "$XDG_CONFIG_HOME/Quillon"
cp "$T/alias.cfg" "$XDG_CONFIG_HOME/Quillon/aliases.cfg"
"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "with recursive n(i) as (select 1 union all select i + 1 from n where i < $ROWS)
                     insert into FIRMS (FirmID, Name, WWW, Phones) select i, 'Фирма ' || i, 'www.firm' || i || '.example', 'p' || (i % 1000) from n"
cp -a "$DATA/." "$T/pristine/"

# The shipped description with the firms' key moved from FirmID to FIELD,
# and WWW widened to 100.
key_moved_to() {
    iconv -f cp1251 -t utf-8 "$BUILD/base.ini" | awk -v key="$1" '
        /^Table:/ { firms = /^Table: FIRMS\.DB/ }
        firms && /^FirmID / { $0 = substr($0, 1, 61) }
        firms && /^WWW / { $0 = sprintf("%-41s%-10s %5s", "WWW", "String", 100) }
        firms && $1 == key { $0 = sprintf("%-61s*", $0) }
        { print }' | iconv -f utf-8 -t cp1251
}
key_moved_to WWW >"$T/base.ini"
grep -a -q '^WWW  *String  *100    *\*' "$T/base.ini" || fail "could not edit base.ini"

# The firms' WWW type and key fields, rows, and rows whose WWW is intact.
firms_state() {
    q "$DATA/FIRMS.DB" "select (select type from pragma_table_info('FIRMS') where name = 'WWW') || ' '
                            || (select group_concat(name) from pragma_index_info('Primary')) || ' '
                            || count(*) || ' ' || sum(WWW = 'www.firm' || FirmID || '.example') from FIRMS"
}

restore() { rm -rf "$DATA" && cp -a "$T/pristine" "$DATA"; }

restore
start=$(date +%s%N)
(cd "$T" && "$QUILLON" --check >/dev/null)
duration_ms=$((($(date +%s%N) - start) / 1000000))
echo "a whole check with the alter takes $duration_ms ms"

for point in 3 10 20 30 40 50 60 70 80 90 95 98 99 100; do
    restore
    (cd "$T" && exec "$QUILLON" --check >/dev/null 2>&1) &
    pid=$!
    sleep "$(awk -v d="$duration_ms" -v p="$point" 'BEGIN { printf "%.3f", d * p / 100000 }')"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    state=$(firms_state)
    case "$state" in
    "CHAR(60) FirmID $ROWS $ROWS" | "CHAR(100) WWW $ROWS $ROWS") echo "ok - killed at $point%: $state" ;;
    *) fail "killed at $point%: $state" ;;
    esac
    expect_eq "integrity after the kill at $point%" ok "$(q "$DATA/FIRMS.DB" 'pragma integrity_check')"
    (cd "$T" && "$QUILLON" --check >/dev/null) || fail "the check after the kill at $point% failed"
    expect_eq "the next check completes the alter" "CHAR(100) WWW $ROWS $ROWS" "$(firms_state)"
done

# A key moved to repeated values: refused with the file, line and cause, and
# not one byte of any table changes.
restore
key_moved_to Phones >"$T/base.ini"
sums_before=$(cd "$DATA" && md5sum ./*)
set +e
message=$(cd "$T" && "$QUILLON" --check 2>&1 >/dev/null)
status=$?
set -e
[ "$status" -ne 0 ] || fail "a key over repeated values was accepted"
echo "$message" | grep -q 'base.ini, строка [0-9]*: FIRMS.DB: ключ Phones: ' || fail "unclear message: $message"
echo "ok - refused: $message"
expect_eq "every file as it was" "$sums_before" "$(cd "$DATA" && md5sum ./*)"
echo "1 passed, 0 failed"
