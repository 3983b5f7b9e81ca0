#!/usr/bin/env bash
# Two copies of the program on one server catalogue, each a desk of its own:
# a firm renamed at one desk shows in the other's list (read as a screen
# reader reads it) within a second of its saving; then both desks edit the
# same firm, one its address and the other its phone; the second to save is
# told "Запись изменена другим пользователем", keeps its own values, and
# the catalogue, read with psql, holds what both typed.
if [ -z "${QUILLON_SESSION_BUS:-}" ]; then
    QUILLON_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
A11Y="/usr/bin/python3 $(dirname "$(realpath "$0")")/a11y.py"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
[ -n "${QUILLON_TEST_SERVER:-}" ] || { echo "skip - no test server"; exit 0; }

DB=quillon_desks_$$
psql -X -q "$QUILLON_TEST_SERVER" -c "create database $DB"
URI=${QUILLON_TEST_SERVER/\/postgres\?//$DB?}
sql() { psql -X -q -A -t "$URI" -c "$1"; }
"$QUILLON" --catalogue "$URI" --check >/dev/null
sql "insert into firms (name) values ('Альфа'), ('Бета')"

start_x
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
PID_B=
trap 'kill "$BUS_PID" $PID_B 2>/dev/null || true; cleanup; psql -X -q "$QUILLON_TEST_SERVER" -c "drop database if exists $DB with (force)"' EXIT
sleep 1

desk() { # starts a copy of the program on the catalogue; prints its process id
    (cd "$T" && exec "$QUILLON" --catalogue "$URI") >>"$T/app.log" 2>&1 &
    echo $!
}
# xdotool matches any one of the conditions unless told "--all".
window_of() { timeout 30 xdotool search --all --sync --onlyvisible --pid "$1" --name '^Квиллон$' | head -n 1; }
# Xvfb runs no window manager to activate a window: it is raised above the
# others and given the keyboard.
to_front() { xdotool windowraise "$1" windowfocus --sync "$1"; sleep 0.2; }
rows_of() { QUILLON_PID=$1 $A11Y rows "Список фирм" | cut -d'|' -f1 | sed 's/ *$//' | paste -sd,; }

APP_PID=$(desk)
WINDOW_A=$(window_of "$APP_PID") || fail "no first window"
PID_B=$(desk)
WINDOW_B=$(window_of "$PID_B") || fail "no second window"
xdotool windowmove "$WINDOW_B" 420 300
expect_soon "the second desk lists the firms" "Альфа,Бета" rows_of "$PID_B"

# Desk A renames "Альфа" in its editor.
to_front "$WINDOW_A"
click_in "$WINDOW_A" 381 98
xdotool click --repeat 2 --delay 80 1
EDITOR_A=$(wait_window '^Альфа( — Квиллон)?$')
key ctrl+a
say "Яблоко"
size_of "$EDITOR_A"
click_in "$EDITOR_A" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
saved=$(date +%s%N)
for _ in $(seq 100); do
    [ "$(rows_of "$PID_B")" = "Бета,Яблоко" ] && break
    sleep 0.05
done
expect_eq "the rename shows at the other desk, in its place in the order" "Бета,Яблоко" "$(rows_of "$PID_B")"
echo "ok - seen after $((($(date +%s%N) - saved) / 1000000)) ms"

# Both desks open "Бета"; A types an address, B a phone and saves first.
click_in "$WINDOW_A" 381 98
xdotool click --repeat 2 --delay 80 1
EDITOR_A=$(wait_window '^Бета( — Квиллон)?$')
key Tab Tab Tab Tab # the address
say "Москва"
to_front "$WINDOW_B"
click_in "$WINDOW_B" 381 98
xdotool click --repeat 2 --delay 80 1
EDITOR_B=$(xdotool search --all --sync --onlyvisible --pid "$PID_B" --name '^Бета' | head -n 1)
to_front "$EDITOR_B"
key Tab Tab Tab Tab Tab # the phone
say "222"
size_of "$EDITOR_B"
click_in "$EDITOR_B" $((WIDTH - 40)) $((HEIGHT - 18))
expect_soon "the other desk's phone is saved" "|222" sql "select coalesce(address, '') || '|' || phones from firms where name = 'Бета'"
expect_soon "the desk still editing is told before it saves" 1 \
    bash -c "xdotool getwindowname $EDITOR_A | grep -c 'изменена другим пользователем'"

to_front "$EDITOR_A"
size_of "$EDITOR_A"
click_in "$EDITOR_A" $((WIDTH - 40)) $((HEIGHT - 18))
expect_soon "the conflict is told" "Запись изменена другим пользователем." \
    bash -c "QUILLON_PID=$APP_PID $A11Y text 'Запись изменена' | head -n 1"
shot two-desks-conflict
QUILLON_PID=$APP_PID $A11Y press "Сохранить мои значения"
expect_soon "both desks' typed values are kept" "Москва|222" \
    sql "select address || '|' || phones from firms where name = 'Бета'"
gone '^Бета — изменена'
echo "ok - the first desk's editor closed after its choice"
kill "$PID_B"
WINDOW=$WINDOW_A quit_app
