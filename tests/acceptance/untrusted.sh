#!/usr/bin/env bash
# A catalogue from elsewhere: a backup someone else made, with a trigger of
# its own, restored from the command line; the same objects in a data folder
# copied in, met at start (read-only until the user has them removed); a data
# folder that is gone; a folder the program may not write; aliases.cfg
# written by hand. Every table file is checked with the sqlite3 shell.
source "$(dirname "$0")/lib.sh"

sums() { (cd "$1" && sha256sum ./*.DB 2>/dev/null) || true; } # the table files
# Starts the program, which must ask a question first; answers it with `key`
# (a screenshot named `shot` taken before), then closes the main window.
answer_at_start() { # key [shot]
    (cd "$T" && exec "$QUILLON") >"$T/app.log" 2>&1 &
    APP_PID=$!
    timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null || fail "no question at start"
    sleep 1
    [ -z "${2:-}" ] || shot "$2"
    xdotool key "$1"
    WINDOW=
    for _ in $(seq 50); do
        WINDOW=$(main_window | head -n 1)
        [ -n "$WINDOW" ] && break
        sleep 0.2
    done
    [ -n "$WINDOW" ] || { shot failed; fail "no main window after the question at start"; }
    sleep 0.5
    quit_app
}
check_fails() { # what, expected text: --check must fail saying it
    set +e
    said=$(cd "$T" && "$QUILLON" --check 2>&1 >/dev/null)
    status=$?
    set -e
    [ "$status" -ne 0 ] || fail "$1: --check succeeded"
    echo "$said" | grep -q "$2" || fail "$1: unclear message: $said"
    echo "ok - $1: $(echo "$said" | head -n 1)"
}

"$QUILLON" --check >/dev/null
q "$DATA/FIRMS.DB" "insert into FIRMS (FirmID, Name, GroupID) values (1, 'Дуб', 0), (2, 'Ёлка', 0)"
q "$DATA/FIRMS.DB" "pragma user_version = 2"
before=$(sums "$DATA")
"$QUILLON" --check >/dev/null
expect_eq "a check with nothing to change rewrote no table file" "$before" "$(sums "$DATA")"

# aliases.cfg edited by hand, with blanks around "=".
printf '[Quillon]\nPATH = %s\nDEFAULT DRIVER = Paradox\n' "$DATA" >"$XDG_CONFIG_HOME/Quillon/aliases.cfg"
(cd "$T" && "$QUILLON" --check >/dev/null) || fail "--check with blanks around '=' failed"
[ -z "$(find "$T" -maxdepth 2 -name '= *')" ] || fail "a folder named after the blanks was made"
echo "ok - PATH = folder read as the folder"

# Someone else's backup: a trigger that empties FIRMS on every insert, an
# extra table standing in for Items, a key counter at the integer limit.
"$QUILLON" --backup "$T/mine.zip" >/dev/null
python3 - "$T/mine.zip" "$T/theirs.zip" <<'PY'
import hashlib, json, sqlite3, sys, tempfile, zipfile, os
source, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(source) as z:
    entries = {name: z.read(name) for name in z.namelist()}
manifest = json.loads(entries.pop("manifest.json"))
with tempfile.TemporaryDirectory() as d:
    path = os.path.join(d, "FIRMS.DB")
    open(path, "wb").write(entries["FIRMS.DB"])
    db = sqlite3.connect(path)
    db.executescript("""
        CREATE TRIGGER wipe AFTER INSERT ON FIRMS BEGIN DELETE FROM FIRMS; END;
        CREATE TABLE Items (ItemID, Name); INSERT INTO Items VALUES (1, 'Подделка');
        PRAGMA user_version = 2147483647;""")
    db.close()
    entries["FIRMS.DB"] = open(path, "rb").read()
for f in manifest["files"]:
    if f["name"] == "FIRMS.DB":
        f["size"] = len(entries["FIRMS.DB"])
        f["sha256"] = hashlib.sha256(entries["FIRMS.DB"]).hexdigest()
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for name, data in entries.items():
        z.writestr(name, data)
    z.writestr("manifest.json", json.dumps(manifest))
PY
said=$(cd "$T" && "$QUILLON" --restore "$T/theirs.zip")
echo "$said" | grep -q 'FIRMS.DB: триггер «wipe»' || fail "restore did not name the trigger: $said"
echo "$said" | grep -q 'FIRMS.DB: таблица «Items»' || fail "restore did not name the table: $said"
echo "ok - restore named what it left out"
expect_eq "restored FIRMS.DB holds only the program's objects" "table FIRMS;index Primary;index ByName" \
    "$(q_plain "$DATA/FIRMS.DB" "select group_concat(type || ' ' || name, ';') from sqlite_master")"
expect_eq "key counter started again from the highest key" 2 "$(q_plain "$DATA/FIRMS.DB" 'pragma user_version')"
printf 'Name\nКлён\n' >"$T/new.csv"
(cd "$T" && "$QUILLON" --import firms "$T/new.csv" >/dev/null)
expect_eq "an import after the restore keeps every firm" "Дуб,Ёлка,Клён" \
    "$(q_plain "$DATA/FIRMS.DB" 'select group_concat(Name) from (select Name from FIRMS order by FirmID)')"

# The same objects in the live folder: --check changes nothing and names them.
q_plain "$DATA/FIRMS.DB" "CREATE TRIGGER wipe AFTER INSERT ON FIRMS BEGIN DELETE FROM FIRMS; END;
                          CREATE VIEW Files AS SELECT 1 AS FileID;"
before=$(sums "$DATA")
check_fails "foreign objects in the folder" 'FIRMS.DB: триггер «wipe»'
expect_eq "--check left every file as it was" "$before" "$(sums "$DATA")"

# At start they are named in a question: refused, the catalogue opens
# read-only; agreed at the next start, they go.
start_x
answer_at_start Escape foreign-objects-question
expect_eq "read-only start changed no table file" "$before" "$(sums "$DATA")"
answer_at_start Return
expect_eq "foreign objects removed, rows kept" "table FIRMS;index Primary;index ByName|3" \
    "$(q_plain "$DATA/FIRMS.DB" "select group_concat(type || ' ' || name, ';') || '|' || (select count(*) from FIRMS) from sqlite_master")"

# A data folder that is gone is said to be gone, and nothing is made in its place.
mv "$DATA" "$T/elsewhere"
backups=$(ls "$XDG_DATA_HOME/Quillon/Backups")
check_fails "a folder that is gone" 'не найдена'
[ ! -e "$DATA" ] || fail "--check made a new, empty folder"
(cd "$T" && exec "$QUILLON") >"$T/app.log" 2>&1 &
APP_PID=$!
timeout 30 xdotool search --sync --onlyvisible --name '^Квиллон$' >/dev/null || fail "no word at start"
sleep 1
shot missing-folder-question
xdotool key Escape # the box's way out: the program ends
for _ in $(seq 20); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.25; done
kill -0 "$APP_PID" 2>/dev/null && fail "the program went on without its catalogue"
APP_PID=
[ ! -e "$DATA" ] || fail "the window made a new, empty folder"
expect_eq "a folder that is gone is not backed up" "$backups" "$(ls "$XDG_DATA_HOME/Quillon/Backups")"
echo "ok - nothing made in place of the folder, nothing backed up"
mv "$T/elsewhere" "$DATA"

# A folder the program may not write: a check with nothing to do succeeds
# and writes nothing; one that must change says why it cannot.
# The description with one index more: a check must write to follow it.
with_new_index() { # folder: base.ini with an index on the firm types' names, put there
    mkdir -p "$1"
    iconv -f cp1251 -t utf-8 "$BUILD/base.ini" | sed 's/^ByParent=UpGroupID/ByParent=UpGroupID\nByName=Description/' |
        iconv -f utf-8 -t cp1251 >"$1/base.ini"
}
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    shared=$(mktemp -d /tmp/quillon-readonly.XXXXXX)
    cp -a "$DATA" "$shared/Data"
    mkdir -p "$shared/config/Quillon"
    printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$shared/Data" >"$shared/config/Quillon/aliases.cfg"
    with_new_index "$shared/changed"
    cp "$QUILLON" "$shared/quillon"
    chmod -R a+rX,go-w "$shared"
    as_nobody() { (cd "$1" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$shared" \
        XDG_CONFIG_HOME="$shared/config" XDG_DATA_HOME="$shared/share" "$shared/quillon" --check); }
    before=$(sums "$shared/Data")
    as_nobody / >/dev/null 2>&1 || fail "a check with nothing to change failed on a read-only folder"
    expect_eq "a check with nothing to change wrote nothing" "$before" "$(sums "$shared/Data")"
    set +e
    said=$(as_nobody "$shared/changed" 2>&1 >/dev/null)
    set -e
    echo "$said" | grep -q 'нет права записи' || fail "unclear cause on a read-only folder: $said"
    echo "$said" | grep -q 'уже существует' && fail "the cause hidden behind 'already exists': $said"
    echo "ok - read-only folder: $said"
    rm -rf "$shared"
fi

# A disk with no room left (a small memory disk, filled): a check that must
# write, a pack and an index rebuild each name the full disk, and every
# table keeps its rows.
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    with_new_index "$T/changed"
    mkdir -p "$T/disk"
    said=$(unshare -m env DATA="$DATA" T="$T" QUILLON="$QUILLON" bash -c '
        set -e
        mount -t tmpfs -o size=4m tmpfs "$T/disk"
        cp -a "$DATA" "$T/disk/Data"
        printf "[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n" "$T/disk/Data" >"$XDG_CONFIG_HOME/Quillon/aliases.cfg"
        dd if=/dev/zero of="$T/disk/filler" bs=4k 2>/dev/null || true
        for command in "--check" "--pack" "--rebuild-index"; do
            echo "$command:"
            (cd "$T/changed" && "$QUILLON" $command 2>&1 >/dev/null) && echo "succeeded"
        done
        rm "$T/disk/filler"
        sqlite3 "$T/disk/Data/FIRMS.DB" "select \"rows: \" || count(*) from FIRMS"
        umount "$T/disk"')
    printf '[Quillon]\nPATH=%s\nDEFAULT DRIVER=Paradox\n' "$DATA" >"$XDG_CONFIG_HOME/Quillon/aliases.cfg"
    echo "$said"
    ! echo "$said" | grep -q succeeded || fail "a command on a full disk reported success"
    expect_eq "each command on a full disk named the full disk" 3 \
        "$(echo "$said" | grep -A1 -e '^--' | grep -c 'диск переполнен')"
    echo "$said" | grep -q 'Ошибка сжатия FIRMS.DB: диск переполнен' || fail "the pack did not name its cause"
    echo "$said" | grep -q 'FileText.idx: диск переполнен' || fail "the index rebuild did not name its cause"
    expect_eq "the tables on the full disk kept their rows" "rows: 3" "$(echo "$said" | tail -n 1)"
fi
