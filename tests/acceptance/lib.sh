# Shared helpers of the end-to-end tests: a private home for the program, a
# copy of the built program (so its "Data" folder lands in the test's own
# directory), an X server, and the stock sqlite3 shell on the table files.
set -euo pipefail

BUILD=$(realpath "${1:?usage: $0 BUILD_DIR}")
T=$(mktemp -d)
export XDG_CONFIG_HOME=$T/config XDG_DATA_HOME=$T/share XDG_RUNTIME_DIR=$T/runtime
export LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$T/bin"
cp "$BUILD/quillon" "$T/bin/quillon"
QUILLON=$T/bin/quillon
DATA=$T/bin/Data
XVFB_PID=
APP_PID=

cleanup() {
    [ -n "$APP_PID" ] && kill -9 "$APP_PID" 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$T"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

expect_eq() { # what, expected, actual
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
    echo "ok - $1"
}

# The sqlite3 shell with the catalogue's collation, so that it may also write.
q() {
    local file=$1
    shift
    sqlite3 -batch -cmd ".load $BUILD/storage/libquillon-sqlite" "$file" "$@"
}

# The plain shell, as any user has it.
q_plain() { sqlite3 -batch "$@"; }

start_x() {
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$T/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local display
    read -r -t 10 display <&"$fd" || fail "Xvfb did not start"
    export DISPLAY=:$display
}

# Starts the program in the X server and waits for its main window.
start_app() {
    (cd "${1:-$T}" && exec "$QUILLON") >"$T/app.log" 2>&1 &
    APP_PID=$!
    WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' | head -n 1) ||
        fail "no main window (log: $(cat "$T/app.log"))"
    export WINDOW
}

# The main window among the program's windows titled alike (an error box is
# "Квиллон" too): the one of the main window's size.
main_window() {
    xdotool search --onlyvisible --name '^Квиллон$' | while read -r w; do
        if xdotool getwindowgeometry "$w" | grep -q 'Geometry: 586x402'; then echo "$w"; fi
    done || true
}

stop_app() {
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=
}

shot() { # name: a screenshot of the whole screen into the build's screenshot folder
    mkdir -p "$BUILD/screenshots"
    import -window root "$BUILD/screenshots/$1.png"
}
