#!/usr/bin/env bash
# The command line speaks Russian: the help lists every option in Russian,
# and a file that is not there is said to be missing, whatever command names it.
source "$(dirname "$0")/lib.sh"

"$QUILLON" --check >/dev/null

help=$("$QUILLON" --help)
grep -q '^Использование:' <<<"$help" || fail "no Russian usage line: $help"
for english in Usage Options Arguments Displays; do
    ! grep -q "$english" <<<"$help" || fail "'$english' in the help: $help"
done
for option in --check --pack --backup --restore --export --import --rebuild-index --find-in-files --help --version; do
    grep -q -- "$option" <<<"$help" || fail "$option missing from the help"
done
echo "ok - the help is Russian and lists every option"

error_of() { "$QUILLON" "$@" 2>&1 >/dev/null || true; }
expect_eq "unknown option" "quillon: Неизвестный параметр «bogus»." "$(error_of --bogus | head -n 1)"
expect_eq "import of a missing CSV" "$T/нет.csv: файл не найден" "$(error_of --import firms "$T/нет.csv")"
expect_eq "import of a missing XLSX" "$T/нет.xlsx: файл не найден" "$(error_of --import items "$T/нет.xlsx")"
expect_eq "restore from a missing copy" "$T/нет.zip: файл не найден" "$(error_of --restore "$T/нет.zip")"
expect_eq "export into a missing folder" "$T/нет/firms.csv: папка «$T/нет» не найдена" \
    "$(error_of --export firms "$T/нет/firms.csv")"
printf 'PK\003\004 and no more' >"$T/broken.xlsx"
expect_eq "import of a file that is no workbook" \
    "«broken.xlsx» не является таблицей, которую можно загрузить: читаются таблицы CSV (текст), XLSX, XLS и ODS" \
    "$(error_of --import items "$T/broken.xlsx")"
expect_eq "nothing changed by the refusals" 0 "$(q_plain "$DATA/FIRMS.DB" 'select count(*) from FIRMS')"
echo "7 passed, 0 failed"
