#!/usr/bin/env bash
# A backup made from the main window's menu, a firm deleted, the catalogue
# restored from the menu: the firm is in the list again.
source "$(dirname "$0")/lib.sh"

"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name, GroupID) values (1, 'Дуб', 0), (2, 'Ёлка', 0)"

start_x
start_app "$T"
click() { xdotool mousemove --window "$WINDOW" "$1" "$2" click "${3:-1}"; sleep 0.4; }
FIRST_ROW=(381 98) DELETE_RECORD=(555 363)

wait_box() { # title: a window of that title other than the main window must come up
    for _ in $(seq 50); do
        if xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vqx "$WINDOW"; then
            sleep 0.3
            return
        fi
        sleep 0.2
    done
    shot "no-box"
    fail "no box '$1'"
}
menu() { # presses: opens the toolbar menu with F10 and picks an entry from the keyboard
    xdotool windowfocus --sync "$WINDOW"
    xdotool key F10
    sleep 0.4
    xdotool key "$@" Return
}
file_name() { # path: typed into the file dialog
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Return
}

# Below "Открыть каталог..." and "Недавние каталоги".
menu Down Down Down
wait_box 'Резервная копия'
file_name "$T/copy.zip"
wait_box 'Квиллон'
xdotool key Return
expect_eq "the backup is a sound zip" 0 "$(unzip -tq "$T/copy.zip" >/dev/null; echo $?)"

click "${FIRST_ROW[@]}"
click "${DELETE_RECORD[@]}"
wait_box 'Квиллон'
xdotool key Return
sleep 0.5
shot after-delete
expect_eq "Дуб deleted" "Ёлка" "$(q_plain "$DATA/FIRMS.DB" 'select group_concat(Name) from FIRMS')"

menu Down Down Down Down
wait_box 'Восстановить из копии'
file_name "$T/copy.zip"
wait_box 'Квиллон'
xdotool key Return
sleep 0.5 # the question closes; the restore's own message follows when it is done
wait_box 'Квиллон'
shot backup-restored
xdotool key Return
expect_eq "Дуб is back" "Дуб,Ёлка" "$(q_plain "$DATA/FIRMS.DB" 'select group_concat(Name) from (select Name from FIRMS order by FirmID)')"
ls -d "$T/bin/Data.до-восстановления-"* >/dev/null || fail "the former catalogue was not kept"
echo "ok - the former catalogue is kept beside"

# The restored list is the one on screen: "Удалить" on its first row deletes Дуб again.
click "${FIRST_ROW[@]}"
click "${DELETE_RECORD[@]}"
wait_box 'Квиллон'
xdotool key Return
expect_soon "the window shows the restored list" "Ёлка" q_plain "$DATA/FIRMS.DB" 'select group_concat(Name) from FIRMS'
stop_app
