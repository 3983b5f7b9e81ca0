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

expect_soon() { # what, expected, command...: as expect_eq, for work that may end a little later (10 s)
    local what=$1 expected=$2
    shift 2
    for _ in $(seq 50); do
        [ "$("$@")" = "$expected" ] && break
        sleep 0.2
    done
    expect_eq "$what" "$expected" "$("$@")"
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

# Starts the program in the X server and waits for its main window:
# start_app [DIR [ARGUMENT...]].
start_app() {
    local dir=${1:-$T}
    shift $(($# > 0 ? 1 : 0))
    (cd "$dir" && exec "$QUILLON" "$@") >"$T/app.log" 2>&1 &
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

# Closes the program as a user does (Ctrl+Q in the main window) and waits for it.
quit_app() {
    xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
    xdotool key ctrl+q
    for _ in $(seq 1 20); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.25; done
    kill -0 "$APP_PID" 2>/dev/null && fail "Ctrl+Q did not close the program"
    APP_PID=
}

# Driving the windows from outside. Letters outside the keyboard map are typed
# through a borrowed key code; typing slowly lets the program read each one.
click_in() { xdotool mousemove --window "$1" "$2" "$3" click "${4:-1}"; sleep 0.4; } # window x y [button]
say() { xdotool type --delay 200 "$1"; sleep 0.3; }
key() { xdotool key --delay 200 "$@"; sleep 0.3; }
size_of() { # window: its WIDTH and HEIGHT, and nothing else of the geometry
    eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(WIDTH|HEIGHT)=')"
}
wait_window() { # title: the window that must come up; prints its id
    timeout 10 xdotool search --sync --onlyvisible --name "$1" | head -n 1 || { shot failed; fail "no window '$1'"; }
    sleep 0.4
}
gone() { # title: the window must have closed
    sleep 0.8
    ! xdotool search --onlyvisible --name "$1" >/dev/null || { shot failed; fail "'$1' still open"; }
}
