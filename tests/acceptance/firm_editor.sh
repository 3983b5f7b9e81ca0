#!/usr/bin/env bash
# The firm editor driven from outside: a firm opened from the main list by a
# double click, its fields typed (Cyrillic and Latin), two types marked in the
# group assignment dialog, a folder chosen, a file attached through the open
# dialog and opened with a desktop program of the test's own that appends a
# line, stored back; then every value checked in the table files with the
# sqlite3 shell and Python's zlib.
source "$(dirname "$0")/lib.sh"

"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name, GroupID) values (1, 'Старая', 0)"
q "$DATA/GRFIRMS.DB" "insert into GRFIRMS (GroupID, UpGroupID, Description) values (1, 0, 'Опт'), (2, 0, 'Розница')"
q "$DATA/FOLDERS.DB" "insert into FOLDERS (FolderID, Description) values (1, 'Склад')"

# A desktop program of the test's own, the default for plain text: it appends
# a line to the file it is given and ends.
export XDG_DATA_DIRS=/usr/share
mkdir -p "$XDG_DATA_HOME/applications"
cat >"$T/appender.sh" <<'EOF'
#!/bin/sh
echo "appended by the program" >>"$1"
EOF
chmod +x "$T/appender.sh"
cat >"$XDG_DATA_HOME/applications/appender.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Appender
Exec=$T/appender.sh %f
MimeType=text/plain;
EOF
printf '[Default Applications]\ntext/plain=appender.desktop\n' >"$XDG_CONFIG_HOME/mimeapps.list"
mkdir -p "$T/docs"
printf 'price list\nline two\n' >"$T/docs/Price list 2024.txt"

start_x
start_app "$T"

click_in "$WINDOW" 381 98 # the first row of the firm list
xdotool click --repeat 2 --delay 80 1
EDITOR=$(wait_window '^Старая( — Квиллон)?$')
echo "ok - a double click opens the editor captioned with the firm's name"

key ctrl+a
say "Рога и копыта"
wait_window '^Рога и копыта( — Квиллон)?$' >/dev/null
echo "ok - the caption follows the name box"
key Tab Tab Tab space # "Тип фирмы"
TYPES=$(wait_window '^Типы фирм')
key Down space Down space
shot firm-types
key Return
sleep 0.5
key Tab
say "Москва, Тверская 1"
key Tab
say "+7 495 123-45-67"
key Tab
say "sales@roga.ru"
key Tab Tab
say "www.roga.ru"
key Tab Tab Insert F2 Down Return # the folder grid: a new row, the first folder
size_of "$EDITOR"
click_in "$EDITOR" $((WIDTH - 150)) 240 # "Добавить"

wait_window '^Выберите файл' >/dev/null
say "$T/docs/Price list 2024.txt"
key Return
sleep 1
shot firm-editor
import -window "$EDITOR" "$BUILD/screenshots/firm-editor-only.png"

# Open the attached file: a double click on its row.
click_in "$EDITOR" 40 $((HEIGHT - 80))
xdotool click --repeat 2 --delay 80 1
# "Обновить файл в базе": a second window captioned as the program.
for _ in $(seq 1 40); do
    [ "$(xdotool search --onlyvisible --name '^Квиллон$' | wc -l)" -ge 2 ] && break
    sleep 0.25
done
sleep 0.4
shot store-back
key Return
sleep 0.5
click_in "$EDITOR" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
sleep 1
xdotool search --onlyvisible --name '^Рога и копыта( — Квиллон)?$' >/dev/null && fail "the editor did not close"
echo "ok - the editor closed"

expect_eq "firm fields stored" "Рога и копыта|Москва, Тверская 1|+7 495 123-45-67|sales@roga.ru|www.roga.ru" \
    "$(q_plain "$DATA/FIRMS.DB" "select Name || '|' || Address || '|' || Phones || '|' || Email || '|' || WWW from FIRMS where FirmID = 1")"
expect_eq "two types assigned" "1,2" \
    "$(q_plain "$DATA/GRPFRM.DB" "select group_concat(GroupID) from (select GroupID from GRPFRM where FirmID = 1 order by GroupID)")"
expect_eq "folder membership" "1|1|0" \
    "$(q_plain "$DATA/CRFOLDERS.DB" "select FolderID || '|' || FirmID || '|' || ItemID from CRFOLDERS")"
expect_eq "file row" "1|Price list 2024.txt|Price lis.txt" \
    "$(q_plain "$DATA/FILES.DB" "select FirmID || '|' || Description || '|' || FileName from FILES")"
q_plain "$DATA/FILES.DB" "select hex(File) from FILES" >"$T/file.hex"
expect_eq "stored file changed by the program" "$(printf 'price list\nline two\nappended by the program')" \
    "$(python3 -c 'import sys, zlib; sys.stdout.write(zlib.decompress(bytes.fromhex(open(sys.argv[1]).read().strip())).decode())' "$T/file.hex")"
leftover=$(find /tmp -maxdepth 2 -name 'Price lis.txt' 2>/dev/null | head -n 1)
expect_eq "temporary copy deleted" "" "$leftover"
quit_app
echo "8 passed, 0 failed"
