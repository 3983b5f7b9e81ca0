#!/usr/bin/env bash
# One window per folder catalogue. With a window open on the folder, a second
# start brings that window to the front (above another program's window, with
# the keyboard) and opens no other; each command-line action that would
# write under the window is refused with its message and status, and the
# table files stay byte for byte as they were. Once the window is closed the
# same check runs.
source "$(dirname "$0")/lib.sh"

"$QUILLON" --check >/dev/null
printf 'Название\nАльфа\nБета\n' >"$T/firms.csv"
"$QUILLON" --import firms "$T/firms.csv" >/dev/null
"$QUILLON" --backup "$T/copy.zip" >/dev/null
"$QUILLON" --copy-catalogue "$DATA" "$T/source" >/dev/null
printf 'Название\nГамма\n' >"$T/more.csv"

start_x
start_app
xmessage -geometry +0+0 "another program" &
OTHER_PID=$!
trap 'kill "$OTHER_PID" 2>/dev/null || true; cleanup' EXIT
OTHER=$(timeout 10 xdotool search --sync --onlyvisible --name '^xmessage$' | head -n 1)
xdotool windowraise "$OTHER" windowfocus --sync "$OTHER"
expect_eq "another program's window has the keyboard" "$OTHER" "$(xdotool getwindowfocus)"

# Toplevel windows of an X server without a window manager, top first.
topmost() { xwininfo -root -children | grep -oE '^ +0x[0-9a-f]+' | head -n 1 | xargs printf '%d\n'; }
set +e
timeout 30 "$QUILLON" >"$T/second.log" 2>&1
status=$?
set -e
expect_eq "a second start on the folder ends at once" 0 "$status"
expect_soon "the open window has the keyboard" "$WINDOW" xdotool getwindowfocus
expect_eq "the open window is above the other program's" "$WINDOW" "$(topmost)"
expect_eq "no second main window" 1 "$(xdotool search --onlyvisible --name '^Квиллон$' | wc -l)"

tables() { sha256sum "$DATA"/*.DB; }
before=$(tables)
refusal="Каталог (папка «$DATA») открыт в окне программы. Закройте окно и повторите: иначе окно показывало бы то, чего в каталоге уже нет."
while IFS='|' read -r what arguments; do
    read -r -a argv <<<"$arguments"
    set +e
    said=$("$QUILLON" "${argv[@]}" 2>&1 >/dev/null)
    status=$?
    set -e
    expect_eq "$what while the window is open: status" 1 "$status"
    expect_eq "$what while the window is open: message" "$refusal" "$said"
done <<EOF
--import|--import firms $T/more.csv
--restore|--restore $T/copy.zip
--check|--check
--pack|--pack
--copy-catalogue|--copy-catalogue $T/source $DATA
EOF
expect_eq "the table files are byte for byte as they were" "$before" "$(tables)"

quit_app
"$QUILLON" --check >"$T/check.log" 2>&1 || fail "--check after the window closed: $(cat "$T/check.log")"
echo "ok - --check runs once the window is closed"
