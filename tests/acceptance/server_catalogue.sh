#!/usr/bin/env bash
# A catalogue on a PostgreSQL server, driven from outside: started with
# `--catalogue postgresql://...`, a firm added, a file attached, the firm
# found by the search window, the program closed and started again with
# everything still there, each step checked with psql. Then the server is
# stopped while the firm editor holds a typed address: closing the editor
# says in Russian that the server cannot be reached and keeps the editor and
# what was typed; once the server is back the same close stores it.
# Run by CTest with the tests' own server (QUILLON_TEST_SERVER, its folder as
# the second argument); the end-to-end tests run one at a time, so stopping
# that server for a while disturbs no other test.
if [ -z "${QUILLON_SESSION_BUS:-}" ]; then
    QUILLON_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/lib.sh"
A11Y="/usr/bin/python3 $(dirname "$(realpath "$0")")/a11y.py"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
SERVER_SCRIPT=$(realpath "$(dirname "$0")/../../scripts/test-server.sh")
ADMIN=${QUILLON_TEST_SERVER:?the maintenance URI of the test server}
SERVER_DIR=${2:?the folder of the test server}

DB=quillon_e2e_$$
URI="postgresql:///$DB?host=$SERVER_DIR&user=postgres"
psql -X -q "$ADMIN" -c "create database $DB"
server_cleanup() {
    "$SERVER_SCRIPT" resume "$SERVER_DIR" 2>/dev/null || true
    psql -X -q "$ADMIN" -c "drop database if exists $DB with (force)" || true
    [ -n "${BUS_PID:-}" ] && kill "$BUS_PID" 2>/dev/null || true
    cleanup
}
trap server_cleanup EXIT
p() { psql -X -A -t -q "$URI" -c "$1"; }

"$QUILLON" --catalogue "$URI" --check >/dev/null
expect_eq "the structure check made the tables on the server" 10 \
    "$(p "select count(*) from pg_tables where schemaname = 'public'")"
mkdir -p "$T/docs"
printf 'price list\nline two\n' >"$T/docs/Price list 2024.txt"

start_x
# The program finds the accessibility bus only when it is there before it starts.
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
BUS_PID=$!
sleep 1
start_app "$T" --catalogue "$URI"
ADD_RECORD=(392 363) FIRST_ROW=(381 98)

# A firm added: its editor opens on "Новая", the name selected.
click_in "$WINDOW" "${ADD_RECORD[@]}"
EDITOR=$(wait_window '^Новая( — Квиллон)?$')
say "Рога и копыта"
wait_window '^Рога и копыта( — Квиллон)?$' >/dev/null
size_of "$EDITOR"
click_in "$EDITOR" $((WIDTH - 150)) 240 # "Добавить" a file
wait_window '^Выберите файл' >/dev/null
say "$T/docs/Price list 2024.txt"
key Return
sleep 1
click_in "$EDITOR" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
gone '^Рога и копыта( — Квиллон)?$'
expect_eq "the firm is on the server" "1|Рога и копыта" "$(p 'select firmid || $$|$$ || name from firms')"
expect_eq "its file is on the server" "1|Price list 2024.txt" \
    "$(p 'select firmid || $$|$$ || description from files')"
p "select encode(file, 'hex') from files" >"$T/file.hex"
expect_eq "the file in the packed stream" "$(printf 'price list\nline two')" \
    "$(python3 -c 'import sys, zlib; sys.stdout.write(zlib.decompress(bytes.fromhex(open(sys.argv[1]).read().strip())).decode())' "$T/file.hex")"

# The search window finds it by a part of its name typed in lower case.
xdotool windowfocus --sync "$WINDOW"
key ctrl+f
wait_window '^Поиск$' >/dev/null
$A11Y focus 'Название'
say "копыт"
key Return
expect_soon "the search found the firm" "Найдено записей - 1" $A11Y text 'Найдено записей - '
expect_eq "the found row" "Рога и копыта" "$($A11Y rows 'Найденные записи' | cut -d'|' -f1 | xargs)"
shot server-search
$A11Y press 'Закрыть' 'Поиск'
gone '^Поиск$'
shot server-main-window
import -window "$WINDOW" "$BUILD/screenshots/server-main-window-only.png"
quit_app

# Started again: the firm and its file are there.
start_app "$T" --catalogue "$URI"
click_in "$WINDOW" "${FIRST_ROW[@]}"
xdotool click --repeat 2 --delay 80 1
EDITOR=$(wait_window '^Рога и копыта( — Квиллон)?$')
echo "ok - after a restart the firm opens in its editor"
expect_soon "its file is listed" 1 bash -c "$A11Y rows 'Файлы' | grep -c 'Price list 2024.txt'"

# The server stops while an address is being typed.
$A11Y focus 'Адрес'
say "Москва, Тверская 1"
"$SERVER_SCRIPT" pause "$SERVER_DIR"
size_of "$EDITOR"
click_in "$EDITOR" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
for _ in $(seq 50); do # the message stands beside the main window, titled alike
    [ "$(xdotool search --onlyvisible --name '^Квиллон$' | wc -l)" -ge 2 ] && break
    sleep 0.2
done
expect_soon "the user is told the server cannot be reached" 1 \
    bash -c "$A11Y text 'FIRMS.DB: нет связи с сервером' | grep -c '$SERVER_DIR'"
shot server-gone
key Return
expect_eq "the editor stays open" 1 "$(xdotool search --onlyvisible --name '^Рога и копыта( — Квиллон)?$' | wc -l)"

# The server is back: the same close stores the address on a new connection.
"$SERVER_SCRIPT" resume "$SERVER_DIR"
click_in "$EDITOR" $((WIDTH - 40)) $((HEIGHT - 18)) # "Закрыть"
gone '^Рога и копыта( — Квиллон)?$'
expect_eq "the typed address reached the server" "1|Рога и копыта|Москва, Тверская 1" \
    "$(p 'select firmid || $$|$$ || name || $$|$$ || address from firms')"
expect_eq "the file is still there" "1|Price list 2024.txt" \
    "$(p 'select firmid || $$|$$ || description from files')"
quit_app
