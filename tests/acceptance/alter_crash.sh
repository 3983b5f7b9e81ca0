#!/usr/bin/env bash
# An alter is all or nothing: `quillon --check` widening a field of a large
# table is killed (kill -9) at many points; after each kill every row and
# value is there, in the old structure or the new one.
source "$(dirname "$0")/lib.sh"
ROWS=${ALTER_ROWS:-200000}

mkdir -p "$T/pristine"
printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$DATA" >"$T/alias.cfg"
mkdir -p "$XDG_CONFIG_HOME/Quillon"
cp "$T/alias.cfg" "$XDG_CONFIG_HOME/Quillon/aliases.cfg"
"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "with recursive n(i) as (select 1 union all select i + 1 from n where i < $ROWS)
                     insert into FIRMS (FirmID, Name, WWW) select i, 'Фирма ' || i, 'www.firm' || i || '.example' from n"
cp -a "$DATA/." "$T/pristine/"
iconv -f cp1251 -t utf-8 "$BUILD/base.ini" | sed 's/^\(WWW  *String  *\)  60/\1 100/' | iconv -f utf-8 -t cp1251 >"$T/base.ini"

restore() { rm -rf "$DATA" && cp -a "$T/pristine" "$DATA"; }

restore
start=$(date +%s%N)
(cd "$T" && "$QUILLON" --check >/dev/null)
duration_ms=$((($(date +%s%N) - start) / 1000000))
echo "a whole check with the alter takes $duration_ms ms"

for point in 3 10 20 30 40 50 60 70 80 90 97; do
    restore
    (cd "$T" && exec "$QUILLON" --check >/dev/null 2>&1) &
    pid=$!
    sleep "$(awk -v d="$duration_ms" -v p="$point" 'BEGIN { printf "%.3f", d * p / 100000 }')"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    state=$(q "$DATA/FIRMS.DB" "select (select type from pragma_table_info('FIRMS') where name = 'WWW')
                                 || ' ' || count(*) || ' ' || count(WWW) || ' ' ||
                                 sum(WWW = 'www.firm' || FirmID || '.example') from FIRMS")
    case "$state" in
    "CHAR(60) $ROWS $ROWS $ROWS" | "CHAR(100) $ROWS $ROWS $ROWS") echo "ok - killed at $point%: $state" ;;
    *) fail "killed at $point%: $state" ;;
    esac
    expect_eq "integrity after the kill at $point%" ok "$(q "$DATA/FIRMS.DB" 'pragma integrity_check')"
    (cd "$T" && "$QUILLON" --check >/dev/null) || fail "the check after the kill at $point% failed"
    expect_eq "the next check completes the alter" "CHAR(100) $ROWS" \
        "$(q "$DATA/FIRMS.DB" "select (select type from pragma_table_info('FIRMS') where name = 'WWW') || ' ' || count(WWW) from FIRMS")"
done
echo "1 passed, 0 failed"
