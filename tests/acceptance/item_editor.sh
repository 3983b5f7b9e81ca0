#!/usr/bin/env bash
# The item editor driven from outside: an item added from the items tab, a
# maker and a seller chosen by typing in the drop-downs, the seller's firm
# opened from the item editor and renamed, the new name seen in the seller
# grid; then the firm's items list from the firm editor with the item under
# both headings, read as a screen reader reads it, and opened from there with
# Enter; every row checked with the sqlite3 shell.
# The lists are read through the accessibility bus, in a private session bus.
if [ -z "${QUILLON_SESSION_BUS:-}" ]; then
    QUILLON_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
A11Y="/usr/bin/python3 $(dirname "$(realpath "$0")")/a11y.py"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name, GroupID) values (1, 'Альфа', 0), (2, 'Бета', 0), (3, 'Гамма', 0)"

start_x
# The program finds the accessibility bus only when it is there before it starts.
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
trap 'kill "$BUS_PID" 2>/dev/null || true; cleanup' EXIT
sleep 1
start_app "$T"

click_in "$WINDOW" 262 59 # the items tab
click_in "$WINDOW" 392 363 # "Добавить"
ITEM=$(wait_window '^Новый( — Квиллон)?$')
echo "ok - \"Добавить\" on the items tab opens the new item"
say "Болт" # the new item's name is selected: typing replaces it
key Tab Tab Tab Tab Insert F2 # the maker grid: a new row, its drop-down
say "гам"
key Return Tab Tab Insert F2 # the seller grid
say "гам"
key Return
shot item-chosen
key Tab space # the seller's firm
FIRM=$(wait_window '^Гамма( — Квиллон)?$')
echo "ok - the seller's firm opens in its editor"
key ctrl+a
say "Гамма-Плюс"
key shift+Tab space # "Закрыть"
gone '^Гамма-Плюс'
shot item-editor
import -window "$ITEM" "$BUILD/screenshots/item-editor-only.png"
size_of "$ITEM"
click_in "$ITEM" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
gone '^Болт'
echo "ok - the item editor closed"

expect_eq "item stored" "Болт" "$(q_plain "$DATA/ITEMS.DB" 'select Name from ITEMS')"
expect_eq "maker and seller rows" "3m1 3s1" \
    "$(q_plain "$DATA/CRFIRMS.DB" "select group_concat(FirmID || Type || ItemID, ' ') from (select * from CRFIRMS order by Type)")"
expect_eq "seller renamed" "Гамма-Плюс" "$(q_plain "$DATA/FIRMS.DB" 'select Name from FIRMS where FirmID = 3')"

click_in "$WINDOW" 201 59 # the firms tab
click_in "$WINDOW" 381 98 # the first firm
say "гам"
click_in "$WINDOW" 470 363 # "Редактировать"
FIRM=$(wait_window '^Гамма-Плюс( — Квиллон)?$')
size_of "$FIRM"
click_in "$FIRM" $((WIDTH - 40)) $((HEIGHT - 45)) # "Элементы..."
LIST=$(wait_window '^Список элементов')
shot items-list
import -window "$LIST" "$BUILD/screenshots/items-list-only.png"
expect_eq "the item under \"Производимые\"" "Болт | " "$($A11Y rows Производимые)"
expect_eq "the item under \"Продаваемые\"" "Болт | " "$($A11Y rows Продаваемые)"
$A11Y focus Продаваемые
key Return
wait_window '^Болт( — Квиллон)?$' >/dev/null
echo "ok - Enter in the list opens the item"
key shift+Tab Return # from the name box back to "Закрыть", pressed with Enter
gone '^Болт'
size_of "$LIST"
click_in "$LIST" $((WIDTH - 46)) 31 # "Закрыть"
gone '^Список элементов'
size_of "$FIRM"
click_in "$FIRM" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
gone '^Гамма-Плюс'
echo "ok - the list and the firm editor closed"
quit_app
echo "13 passed, 0 failed"
