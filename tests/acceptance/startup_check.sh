#!/usr/bin/env bash
# First start, restart, structure changes from base.ini, a broken base.ini
# and packing, all on the built program and checked with the sqlite3 shell.
source "$(dirname "$0")/lib.sh"

start_x
# First start: no alias, no data directory.
[ -e "$XDG_CONFIG_HOME/Quillon/aliases.cfg" ] && fail "alias exists before the first start"
start_app "$T"
stop_app
expect_eq "alias created pointing beside the program" "PATH=$DATA" \
    "$(grep '^PATH=' "$XDG_CONFIG_HOME/Quillon/aliases.cfg")"
expect_eq "ten tables created" 10 "$(ls "$DATA" | grep -c '\.DB$')"
expect_eq "firm table readable by the plain shell" \
    "FirmID|AutoInc Name|CHAR(240)" \
    "$(q_plain "$DATA/FIRMS.DB" "select name || '|' || type from pragma_table_info('FIRMS') limit 2" | paste -sd' ')"

# Rows written between runs survive a restart.
for i in $(seq 1 50); do
    echo "insert into FIRMS (FirmID, Name, WWW) values ($i, 'Фирма $i', 'www.f$i.example');"
done | q "$DATA/FIRMS.DB"
start_app "$T"
stop_app
expect_eq "restart keeps every row" 50 "$(q_plain "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"

# A declared text field grows from 60 to 100; an undeclared field stays; a
# field spelt in another case takes the declared name with its values.
q "$DATA/FIRMS.DB" "alter table FIRMS add column Extra CHAR(10); update FIRMS set Extra = 'x' || FirmID, Phones = '+7 ' || FirmID;
                     alter table FIRMS rename column Phones to phones;"
iconv -f cp1251 -t utf-8 "$BUILD/base.ini" | sed 's/^\(WWW  *String  *\)  60/\1 100/' | iconv -f utf-8 -t cp1251 >"$T/base.ini"
grep -a -q '^WWW  *String  *100' "$T/base.ini" || fail "could not edit base.ini"
(cd "$T" && "$QUILLON" --check >/dev/null) || fail "--check failed"
expect_eq "WWW grew to 100" "CHAR(100)" "$(q_plain "$DATA/FIRMS.DB" "select type from pragma_table_info('FIRMS') where name = 'WWW'")"
expect_eq "WWW values kept" "www.f7.example 50" "$(q_plain "$DATA/FIRMS.DB" "select (select WWW from FIRMS where FirmID = 7) || ' ' || count(WWW) from FIRMS")"
expect_eq "extra field untouched" "x7 50" "$(q_plain "$DATA/FIRMS.DB" "select (select Extra from FIRMS where FirmID = 7) || ' ' || count(Extra) from FIRMS")"
expect_eq "field spelt in another case renamed, values kept" "Phones|+7 7" \
    "$(q_plain "$DATA/FIRMS.DB" "select (select name from pragma_table_info('FIRMS') where name = 'Phones' collate binary) || '|' || (select Phones from FIRMS where FirmID = 7)")"
[ -z "$(ls "$DATA" | grep -i tmpbase || true)" ] || fail "temporary copies left behind"

# A broken base.ini fails with a clear message and touches no table.
sums_before=$(cd "$DATA" && md5sum ./*.DB)
mkdir -p "$T/bad-size" "$T/no-separator"
iconv -f cp1251 -t utf-8 "$T/base.ini" | sed 's/^\(Name  *String  *\) 240/\1 24O/' | iconv -f utf-8 -t cp1251 >"$T/bad-size/base.ini"
iconv -f cp1251 -t utf-8 "$T/base.ini" | awk '/ITEMS.DB/ { items = 1 } !(items && /^-----------/ && !done) { print; next } { done = 1 }' |
    iconv -f utf-8 -t cp1251 >"$T/no-separator/base.ini"
for broken in bad-size no-separator; do
    set +e
    message=$(cd "$T/$broken" && "$QUILLON" --check 2>&1 >/dev/null)
    status=$?
    set -e
    [ "$status" -ne 0 ] || fail "$broken: --check succeeded"
    echo "$message" | grep -q 'строка' || fail "$broken: unclear message: $message"
    echo "ok - $broken base.ini refused: $message"
done
expect_eq "tables untouched by broken descriptions" "$sums_before" "$(cd "$DATA" && md5sum ./*.DB)"

# --pack gives back the space of deleted rows.
for i in $(seq 51 3000); do
    echo "insert into FIRMS (FirmID, Name, Description) values ($i, 'Фирма $i', printf('%.200c', 'ж'));"
done | q "$DATA/FIRMS.DB"
q "$DATA/FIRMS.DB" "delete from FIRMS where FirmID > 50"
before=$(stat -c %s "$DATA/FIRMS.DB")
(cd "$T" && "$QUILLON" --pack >/dev/null) || fail "--pack failed"
after=$(stat -c %s "$DATA/FIRMS.DB")
[ "$after" -lt $((before / 4)) ] || fail "--pack did not shrink FIRMS.DB ($before -> $after)"
echo "ok - --pack shrank FIRMS.DB from $before to $after bytes"
expect_eq "rows kept by --pack" 50 "$(q_plain "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
# A declared change that a stored value blocks (Phones to a number while the
# phones are texts): the error box names the table, the field and the value;
# the table keeps its old structure and every row, and the lists open on it,
# so "Удалить" finds a current firm to delete.
mkdir -p "$T/phones-number"
iconv -f cp1251 -t utf-8 "$T/base.ini" | sed 's/^\(Phones  *\)String  *60/\1Integer/' |
    iconv -f utf-8 -t cp1251 >"$T/phones-number/base.ini"
(cd "$T/phones-number" && exec "$QUILLON") >"$T/app.log" 2>&1 &
APP_PID=$!
timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null || fail "no error box"
sleep 1
shot blocked-change
xdotool key Return
sleep 1
main=$(main_window)
[ -n "$main" ] || fail "no main window after the failed check: $(cat "$T/app.log")"
xdotool mousemove --window "$main" 555 363 click 1
timeout 10 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null
sleep 0.5
xdotool key Return
sleep 0.5
stop_app
expect_eq "list filled after the failed check: one firm deleted" 49 "$(q_plain "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
expect_eq "Phones kept its type and values" "CHAR(60)|+7 7" \
    "$(q_plain "$DATA/FIRMS.DB" "select (select type from pragma_table_info('FIRMS') where name = 'Phones') || '|' || (select Phones from FIRMS where FirmID = 7)")"

# A damaged table file: the error box names it, start-up goes on to the main
# window, and the file is left exactly as it was.
head -c 8192 /dev/urandom >"$DATA/GRPITM.DB"
damaged=$(md5sum <"$DATA/GRPITM.DB")
(cd "$T" && exec "$QUILLON") >"$T/app.log" 2>&1 &
APP_PID=$!
timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null || fail "no error box"
sleep 1
shot damaged-table
xdotool key Return
sleep 1
main=$(main_window)
shot after-error
[ -n "$main" ] || fail "no main window after the error: $(cat "$T/app.log")"
kill -0 "$APP_PID" || fail "the program ended after the error"
stop_app
expect_eq "damaged file untouched" "$damaged" "$(md5sum <"$DATA/GRPITM.DB")"
echo "1 passed, 0 failed"
