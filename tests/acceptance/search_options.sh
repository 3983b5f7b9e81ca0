#!/usr/bin/env bash
# The search and options windows driven from outside on a generated
# catalogue: Ctrl+F on the items tab, a Cyrillic text typed in lower case, the
# count read as a screen reader reads it and checked against the sqlite3
# shell; Ctrl+O, a setting ticked, "Ok", the settings file checked, the effect
# seen after a restart; "Сжать" on a catalogue with deleted rows.
# The controls are read through the accessibility bus, in a private session bus.
if [ -z "${QUILLON_SESSION_BUS:-}" ]; then
    QUILLON_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
A11Y="/usr/bin/python3 $(dirname "$(realpath "$0")")/a11y.py"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

"$BUILD/bench/quillon-gen" "$DATA" --scale 0.01 >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name) values (900001, 'Зюзябра')"

start_x
# The program finds the accessibility bus only when it is there before it starts.
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
trap 'kill "$BUS_PID" 2>/dev/null || true; cleanup' EXIT
sleep 1
start_app "$T"
click() { xdotool mousemove --window "$WINDOW" "$1" "$2" click 1; sleep 0.4; }
say() { xdotool type --delay 200 "$1"; sleep 0.3; }
wait_window() { # title
    timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -n 1 || fail "no window '$1'"
}
ITEMS_TAB=(262 59)

click "${ITEMS_TAB[@]}"
xdotool key ctrl+f
FIND=$(wait_window '^Поиск$')
sleep 0.5
expect_eq "opened from the items tab, the scope is items" 1 "$($A11Y checked 'Элементы')"
# From the scope: the name box, then past the joiners and the other two boxes
# to "Одинаковое во всех полях".
xdotool key Tab
say "гайка"
xdotool key Tab Tab Tab Tab Tab space Return
sleep 1
expected=$(q "$DATA/ITEMS.DB" "select count(*) from ITEMS where upper(Name) like '%ГАЙКА%'
    or upper(Sinonyms) like '%ГАЙКА%' or upper(Description) like '%ГАЙКА%'")
[ "$expected" -gt 0 ] || fail "the generated catalogue has no 'гайка'"
expect_eq "the count of the lower-case search matches the shell" \
    "Найдено записей - $expected" "$($A11Y text 'Найдено записей - ')"
mkdir -p "$BUILD/screenshots"
import -window "$FIND" "$BUILD/screenshots/search-window.png"

# A firm found by its name, opened in its editor by a double click.
$A11Y press 'Новый поиск'
$A11Y press 'Фирмы'
$A11Y press 'Одинаковое во всех полях'
$A11Y focus 'Название'
say "зюзябра"
xdotool key Return
sleep 0.5
expect_eq "one firm found" "Найдено записей - 1" "$($A11Y text 'Найдено записей - ')"
xdotool mousemove --window "$FIND" 100 229 click --repeat 2 --delay 80 1
wait_window '^Зюзябра$' >/dev/null
echo "ok - the double click opened the firm editor on the found firm"
$A11Y press 'Закрыть' 'Зюзябра'
sleep 0.5
xdotool search --onlyvisible --name '^Зюзябра$' >/dev/null && fail "the firm editor did not close"
$A11Y press 'Закрыть' 'Поиск'
sleep 0.5

# Without a window manager the focus does not come back by itself.
click "${ITEMS_TAB[@]}"
xdotool key ctrl+o
OPTIONS=$(wait_window '^Настройки$')
sleep 0.5
import -window "$OPTIONS" "$BUILD/screenshots/options-window.png"
expect_eq "nothing stored: the check at start-up is ticked" 1 "$($A11Y checked 'Проверять сруктуру таблиц при загрузке')"
$A11Y press 'Отображать с учетом текущей папки'
$A11Y press 'Ok'
sleep 0.5
settings=$XDG_CONFIG_HOME/Pelorin/settings.ini
expect_eq "all three settings stored as strings" \
    '[Quillon] CheckOnLoad="1" PackOnCheck="0" FolderFilter="1"' "$(tr '\n' ' ' <"$settings" | sed 's/ $//')"
expect_eq "stored only: the folder filter of this run is unchanged" 0 \
    "$($A11Y checked $'Отображать с учетом \nтекущей папки')"

stop_app
start_app "$T"
sleep 0.5
expect_eq "after a restart the lists start filtered by folder" 1 \
    "$($A11Y checked $'Отображать с учетом \nтекущей папки')"

# Every other item and firm deleted behind the program's back, then packed.
q "$DATA/ITEMS.DB" "delete from ITEMS where ItemID % 2 = 0"
q "$DATA/FIRMS.DB" "delete from FIRMS where FirmID % 2 = 0"
items_before=$(stat -c %s "$DATA/ITEMS.DB")
firms_before=$(stat -c %s "$DATA/FIRMS.DB")
count_before=$(q_plain "$DATA/ITEMS.DB" "select count(*) from ITEMS")
# Without a window manager the focus does not come back by itself.
click "${ITEMS_TAB[@]}"
xdotool key ctrl+o
wait_window '^Настройки$' >/dev/null
sleep 0.5
$A11Y press 'Сжать'
for _ in $(seq 1 60); do
    [ "$(stat -c %s "$DATA/ITEMS.DB")" -lt "$items_before" ] && break
    sleep 0.5
done
sleep 1
[ "$(stat -c %s "$DATA/ITEMS.DB")" -lt "$items_before" ] || fail "ITEMS.DB not smaller after 'Сжать'"
[ "$(stat -c %s "$DATA/FIRMS.DB")" -lt "$firms_before" ] || fail "FIRMS.DB not smaller after 'Сжать'"
echo "ok - 'Сжать' gave back the space of deleted rows"
said=$($A11Y text 'Сжатие закончено')
case "$said" in
"Сжатие закончено. Сжато таблиц: 10, освобождено "*) echo "ok - the pack says what it did" ;;
*) fail "no word of what the pack did: '$said'" ;;
esac
xdotool key Return
sleep 0.5
expect_eq "packing kept every row" "$count_before" "$(q_plain "$DATA/ITEMS.DB" "select count(*) from ITEMS")"
$A11Y press 'Отмена'
sleep 0.5
expect_eq "the settings file is untouched by 'Отмена'" 1 "$(grep -c 'FolderFilter="1"' "$settings")"
shot search_options_end
