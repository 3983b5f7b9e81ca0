#!/usr/bin/env bash
# Choosing a catalogue: `--catalogue` for one command, `--copy-catalogue`
# proved before it says done, a catalogue that has gone said so at start with
# the choice of another, "Открыть каталог..." making a new one when asked,
# and the choice kept for the next start.
source "$(dirname "$0")/lib.sh"

"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name) values (1, 'Дуб')"
ALIASES=$XDG_CONFIG_HOME/Quillon/aliases.cfg
before=$(cat "$ALIASES")

status=0
out=$("$QUILLON" --catalogue "$T/Нет" --check 2>&1) || status=$?
expect_eq "a missing folder stops the command" 1 "$status"
expect_eq "the message names it" "Каталог недоступен: папка «$T/Нет».
Причина: папка не найдена." "$out"
[ ! -e "$T/Нет" ] || fail "a catalogue was made in place of the missing one"

"$QUILLON" --copy-catalogue "$DATA" "$T/B" >"$T/copy.log" || fail "copy failed: $(cat "$T/copy.log")"
grep -q "FIRMS.DB: скопировано записей: 1" "$T/copy.log" || fail "no count: $(cat "$T/copy.log")"
grep -q "Каталог скопирован и проверен" "$T/copy.log" || fail "not proved: $(cat "$T/copy.log")"
expect_eq "the copy holds the firm" "Дуб" "$(q_plain "$T/B/FIRMS.DB" 'select Name from FIRMS')"
status=0
"$QUILLON" --copy-catalogue "$DATA" "$T/B" 2>"$T/copy.err" || status=$?
expect_eq "a second copy onto it is refused" 1 "$status"
grep -q "только в пустое место" "$T/copy.err" || fail "refusal: $(cat "$T/copy.err")"

q "$T/B/FIRMS.DB" "insert into FIRMS (FirmID, Name) values (2, 'Клён')"
"$QUILLON" --catalogue "$T/B" --export firms "$T/b.csv" >/dev/null
grep -q "Клён" "$T/b.csv" || fail "--catalogue did not reach the export"
expect_eq "--catalogue leaves the alias as it was" "$before" "$(cat "$ALIASES")"

# The catalogue folder has gone: the program says so and offers another one.
mv "$DATA" "$T/moved"
start_x
(cd "$T" && exec "$QUILLON") >"$T/app.log" 2>&1 &
APP_PID=$!
wait_window '^Квиллон$' >/dev/null
shot catalogue-gone
key Return # "Открыть другой каталог..."
wait_window 'Открыть каталог' >/dev/null
shot open-catalogue-dialog
key ctrl+a
xdotool type --delay 20 "$T/B"
key Return
WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' | head -n 1)
sleep 1
shot catalogue-b
grep -q "PATH=$T/B" "$ALIASES" || fail "the choice was not kept: $(cat "$ALIASES")"
echo "ok - the other catalogue opened and was kept"

# From the menu: a folder with no catalogue becomes a new one when the user says so.
xdotool windowfocus --sync "$WINDOW"
key F10 Down Return
wait_window 'Открыть каталог' >/dev/null
key ctrl+a
xdotool type --delay 20 "$T/C"
key Return
for _ in $(seq 50); do # the question stands beside the main window, titled alike
    [ "$(xdotool search --onlyvisible --name '^Квиллон$' | wc -l)" -ge 2 ] && break
    sleep 0.2
done
sleep 0.4
shot new-catalogue-question
key Return # OK: make a new catalogue there
sleep 1.5
[ -f "$T/C/FIRMS.DB" ] || { shot failed; fail "no new catalogue in C"; }
echo "ok - a new catalogue was made when asked"
quit_app

start_app "$T"
grep -q "PATH=$T/C" "$ALIASES" || fail "the next start is not on C"
quit_app
expect_eq "B is among the recent catalogues" 1 "$(grep -c "=\"$T/B\"" "$XDG_CONFIG_HOME/Pelorin/settings.ini")"
