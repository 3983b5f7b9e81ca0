#!/usr/bin/env bash
# A word that stands only inside an attached price list, found from the
# search window: the price list attached to a firm through its editor and
# the open dialog, the index brought up to date in the background, the word
# typed in another form with "Искать в прикреплённых файлах" ticked, the
# matched file read as a screen reader reads it, and the firm opened from the
# result by a double click.
if [ -z "${QUILLON_SESSION_BUS:-}" ]; then
    QUILLON_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
A11Y="/usr/bin/python3 $(dirname "$(realpath "$0")")/a11y.py"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

"$BUILD/bench/quillon-gen" "$DATA" --scale 0.002 >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name) values (900001, 'Зюзябра')"
printf 'Артикул;Наименование;Цена\n17;Шпингалеты накладные;45\n' >"$T/Прайс зюзябры.csv"

start_x
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
trap 'kill "$BUS_PID" 2>/dev/null || true; cleanup' EXIT
sleep 1
start_app "$T"
say() { xdotool type --delay 150 "$1"; sleep 0.3; }
wait_window() { # title
    timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -n 1 || fail "no window '$1'"
}
find_firm() { # text, in files (0/1)
    $A11Y press 'Новый поиск'
    # The text sought in all three fields: the empty boxes find nothing of their own.
    $A11Y press 'Одинаковое во всех полях'
    [ "$($A11Y checked 'Искать в прикреплённых файлах')" = "$2" ] ||
        $A11Y press 'Искать в прикреплённых файлах'
    $A11Y focus 'Название'
    say "$1"
    xdotool key Return
    sleep 1
}
open_found() {
    xdotool mousemove --window "$FIND" 100 229 click --repeat 2 --delay 80 1
    wait_window '^Зюзябра$'
}

# Without a window manager the main window has the focus only once clicked.
xdotool mousemove --window "$WINDOW" 262 59 click 1
sleep 0.4
xdotool key ctrl+f
FIND=$(wait_window '^Поиск$')
sleep 0.5
$A11Y press 'Фирмы'
find_firm "зюзябра" 0
EDITOR=$(open_found)

# The price list attached as a user attaches it.
$A11Y press 'Добавить' 'Зюзябра'
DIALOG=$(wait_window 'Выберите файл')
sleep 0.5
say "$T/Прайс зюзябры.csv"
xdotool key Return
expect_soon "the price list is stored with the firm" 1 \
    q_plain "$DATA/FILES.DB" "select count(*) from Files where FirmID=900001"
$A11Y press 'Закрыть' 'Зюзябра'
sleep 0.5

# The index hears of the new row at once and reads the file in the background.
for _ in $(seq 1 40); do
    [ "$(q_plain "$DATA/FileText.idx" "select count(*) from files where FirmID=900001" 2>/dev/null)" = 1 ] && break
    sleep 0.25
done
expect_eq "the price list is in the index" 1 \
    "$(q_plain "$DATA/FileText.idx" "select count(*) from files where FirmID=900001")"

find_firm "шпингалетов" 0
expect_eq "without the tick the search is by name only" "Найдено записей - 0" \
    "$($A11Y text 'Найдено записей - ')"
find_firm "шпингалетов" 1
expect_eq "with the tick the firm is found by a word of its price list" "Найдено записей - 1" \
    "$($A11Y text 'Найдено записей - ')"
expect_eq "the matched file and its words are shown" "«Прайс зюзябры.csv»: Артикул;Наименование;Цена 17;«Шпингалеты» накладные;45" \
    "$($A11Y text '«Прайс')"
mkdir -p "$BUILD/screenshots"
import -window "$FIND" "$BUILD/screenshots/find-in-files.png"
open_found >/dev/null
echo "ok - the double click opened the firm found by its price list"
$A11Y press 'Закрыть' 'Зюзябра'
