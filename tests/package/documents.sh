#!/usr/bin/env bash
# What the package ships beside the program: the desktop entry and the
# software centre's description pass their validators, both manual pages
# render without warnings, and every option `quillon --help` lists is in
# both of them, so an option added later must be documented.
set -euo pipefail

BUILD=$(realpath "${1:?usage: $0 BUILD_DIR SOURCE_DIR}")
SOURCE=$(realpath "${2:?usage: $0 BUILD_DIR SOURCE_DIR}")
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

desktop-file-validate "$SOURCE/app/quillon.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$BUILD/ru.pelorin.quillon.metainfo.xml" || fail "metainfo"

# The options as --help names them, short and long: "  -h, --help  Displays ...".
options=$(XDG_CONFIG_HOME=$(mktemp -d) "$BUILD/quillon" --help | grep -E '^ +-' |
    sed -E 's/^ +//; s/  .*//; s/ <[^>]*>//g' | tr ',' '\n' | tr -d ' ' | sort -u)
[ "$(wc -l <<<"$options")" -ge 10 ] || fail "--help lists too few options: $options"

for page in "$BUILD/man/en/quillon.1" "$BUILD/man/ru/quillon.1"; do
    before=$failures
    warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
    # Wide lines and no hyphenation, so that no option is split.
    text=$(groff -k -man -Tutf8 -rLL=250n -rHY=0 -P-cbou "$page")
    for option in $options; do
        grep -qE -- "(^|[^[:alnum:]-])$option([^[:alnum:]-]|$)" <<<"$text" ||
            fail "$page does not document $option"
    done
    [ "$failures" -gt "$before" ] ||
        echo "ok - $(basename "$(dirname "$page")") manual page: $(wc -w <<<"$options") options"
done
exit $((failures > 0))
