#!/usr/bin/env bash
# The package on a Debian 12 desk that has never built the program: a fresh
# minimal root where apt installs the package with nothing but what it
# declares; the program started there by an ordinary user, from the command
# line and from its menu entry; then the package removed and the user's
# catalogue, settings and backups checked byte for byte.
#
# Run as root. The minimal root and the downloaded packages are kept in
# $QUILLON_ROOT_CACHE (default /var/cache/quillon-package-test), so only the
# first run fetches them.
set -euo pipefail

BUILD=$(realpath "${1:?usage: $0 BUILD_DIR}")
CACHE=${QUILLON_ROOT_CACHE:-/var/cache/quillon-package-test}
MIRROR=http://deb.debian.org/debian

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the test installs into a root of its own"
# Mounts made below vanish with this private mount namespace, whatever happens.
if [ -z "${QUILLON_IN_NAMESPACE:-}" ]; then
    exec unshare --mount --fork env QUILLON_IN_NAMESPACE=1 "$0" "$@"
fi

shopt -s nullglob
debs=("$BUILD"/quillon_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package in $BUILD, found ${#debs[@]}: run make package"
DEB=${debs[0]}
VERSION=$(dpkg-deb --field "$DEB" Version)

T=$(mktemp -d /var/tmp/quillon-package-test.XXXXXX)
# The root lives in memory: quick to unpack into and gone at the end.
mount -t tmpfs -o size=4g quillon-package-test "$T"
ROOT=$T/root
XVFB_PID=
APP_PID=
cleanup() {
    [ -n "$APP_PID" ] && kill -9 "$APP_PID" 2>/dev/null || true
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    umount -R "$T" || umount -R --lazy "$T"
    rmdir "$T"
}
trap cleanup EXIT

ok() { echo "ok - $*"; }
in_root() { chroot "$ROOT" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_user() {
    chroot --userspec=desk:desk "$ROOT" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME=/home/desk \
        XDG_RUNTIME_DIR=/tmp/runtime-desk "$@"
}

# A Debian 12 minimal system with the manual reader a desk has, made once.
base_root() {
    local tarball=$CACHE/bookworm-minbase.tar
    if [ ! -f "$tarball" ]; then
        echo "# making the minimal Debian 12 root (once)"
        local fresh=$T/fresh
        debootstrap --variant=minbase --include=man-db bookworm "$fresh" "$MIRROR" >"$T/debootstrap.log" 2>&1 ||
            fail "debootstrap: $(tail -n 5 "$T/debootstrap.log")"
        tar -C "$fresh" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
        rm -rf --one-file-system "$fresh"
    fi
    mkdir "$ROOT"
    tar -C "$ROOT" -xf "$tarball"
}

prepare_root() {
    mkdir -p "$CACHE/archives/partial" "$CACHE/lists/partial"
    base_root
    cat >"$ROOT/etc/apt/sources.list" <<EOF
deb $MIRROR bookworm main
deb $MIRROR bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
    cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
    # A root thrown away after the test needs no syncs while unpacking, nor
    # an index of manual pages.
    echo force-unsafe-io >"$ROOT/etc/dpkg/dpkg.cfg.d/unsafe-io"
    mount -t proc proc "$ROOT/proc"
    mount --rbind /dev "$ROOT/dev"
    mount --bind "$CACHE/archives" "$ROOT/var/cache/apt/archives"
    mount --bind "$CACHE/lists" "$ROOT/var/lib/apt/lists"
    echo 'man-db man-db/auto-update boolean false' | in_root debconf-set-selections
    in_root useradd --create-home --shell /bin/bash desk
    install -d -m 700 -o "$(in_root id -u desk)" "$ROOT/tmp/runtime-desk"
}

install_package() {
    cp "$DEB" "$ROOT/tmp/"
    in_root apt-get update -qq >"$T/apt.log" 2>&1 || fail "apt-get update: $(tail -n 5 "$T/apt.log")"
    # Recommendations left out: what the package declares must be enough.
    in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "/tmp/$(basename "$DEB")" >"$T/apt.log" 2>&1 || fail "apt-get install: $(tail -n 20 "$T/apt.log")"
    ok "installed $(basename "$DEB") with $(grep -c '^Setting up' "$T/apt.log") packages"
}

check_command_line() {
    local printed
    printed=$(as_user quillon --version)
    [ "$printed" = "quillon $VERSION" ] || fail "--version printed '$printed', the package is $VERSION"
    ok "quillon --version: $printed"
    as_user quillon --check >"$T/check.log" 2>&1 || fail "--check: $(cat "$T/check.log")"
    local data=$ROOT/home/desk/.local/share/Quillon/Data
    [ -s "$data/FIRMS.DB" ] && [ -s "$data/ITEMS.DB" ] || fail "--check made no catalogue in $data"
    ok "quillon --check made a new catalogue in the user's data folder"
    local english russian
    english=$(as_user man quillon) && russian=$(as_user man -L ru quillon) || fail "man quillon failed"
    grep -q -- '--find-in-files' <<<"$english" || fail "man quillon shows no actions"
    grep -q 'ДЕЙСТВИЯ' <<<"$russian" || fail "man -L ru quillon is not the Russian page"
    ok "man quillon, English and Russian"
}

# What the program reads without linking it: Qt's Russian texts, the MIME
# database, the icon theme, and the metric twin of Arial.
check_run_time_files() {
    local missing=() file arial
    for file in usr/share/qt6/translations/qtbase_ru.qm usr/share/mime/mime.cache \
        usr/share/icons/Adwaita/index.theme; do
        [ -f "$ROOT/$file" ] || missing+=("/$file")
    done
    arial=$(in_root fc-match -f '%{family[0]}' Arial)
    [ "$arial" = "Liberation Sans" ] || missing+=("Arial (drawn with '$arial')")
    [ ${#missing[@]} -eq 0 ] || fail "missing on the desk: ${missing[*]}"
    ok "Qt's Russian texts, the MIME database and the icon theme present; Arial is Liberation Sans"
}

start_x() {
    local fd display
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$T/xvfb.log" 2>&1 &
    XVFB_PID=$!
    read -r -t 10 display <&"$fd" || fail "Xvfb did not start"
    export DISPLAY=:$display LANG=C.UTF-8
    mkdir -p "$ROOT/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$ROOT/tmp/.X11-unix"
}

# Settings of the user's own: five daily backups kept.
write_settings() {
    as_user mkdir -p /home/desk/.config/Pelorin
    printf '[Quillon]\nBackupsKept=dword:00000005\n' | as_user tee /home/desk/.config/Pelorin/settings.ini >/dev/null
}

# Started as the menu starts it: the command of the installed desktop entry.
# Closed with Ctrl+Q, the program makes the day's backup.
check_menu_entry() {
    local command window
    command=$(sed -n 's/^Exec=//p' "$ROOT/usr/share/applications/quillon.desktop")
    [ -n "$command" ] || fail "the desktop entry has no command"
    start_x
    # The entry's command is one word with no field codes: nothing to expand.
    as_user env DISPLAY="$DISPLAY" $command >"$T/app.log" 2>&1 &
    APP_PID=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Квиллон$' | head -n 1) ||
        fail "no main window from the menu entry (log: $(cat "$T/app.log"))"
    sleep 1
    mkdir -p "$BUILD/screenshots"
    import -window root "$BUILD/screenshots/package-installed.png"
    ok "the menu entry '$command' opened the main window"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key ctrl+q
    timeout 30 tail --pid="$APP_PID" -f /dev/null || fail "the program did not close on Ctrl+Q"
    APP_PID=
    local backups=("$ROOT"/home/desk/.local/share/Quillon/Backups/*.zip)
    [ ${#backups[@]} -ge 1 ] || fail "no backup at exit (log: $(cat "$T/app.log"))"
    ok "closing the window made the day's backup"
}

user_files() { (cd "$ROOT/home/desk" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }

check_removal() {
    local before after
    before=$(user_files)
    grep -q 'settings.ini' <<<"$before" && grep -q 'Backups/' <<<"$before" &&
        grep -q 'Data/FIRMS.DB' <<<"$before" || fail "the user's files are not all there: $before"
    in_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q quillon >"$T/apt.log" 2>&1 ||
        fail "apt-get remove: $(tail -n 20 "$T/apt.log")"
    [ ! -e "$ROOT/usr/bin/quillon" ] || fail "the program is still there after removal"
    after=$(user_files)
    [ "$before" = "$after" ] || fail "the user's files changed on removal: $(diff <(echo "$before") <(echo "$after"))"
    ok "apt-get remove took the program and left the catalogue, settings and backups ($(wc -l <<<"$after") files)"
}

mkdir -p "$CACHE"
# One run at a time: the cache of downloaded packages is shared.
exec {lock}>"$CACHE/lock"
flock "$lock"
started=$SECONDS
prepare_root
install_package
check_command_line
check_run_time_files
write_settings
check_menu_entry
check_removal
echo "# package test took $((SECONDS - started)) s"
