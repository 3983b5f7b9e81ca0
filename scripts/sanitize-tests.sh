#!/usr/bin/env bash
# Runs every test of a sanitized build. The sanitizers write their reports to
# files rather than to standard error, so that a finding in a process whose
# output nobody reads (the extraction process, the program an end-to-end test
# drives) is seen too: any report fails the run, and is printed.
set -uo pipefail
BUILD=$(realpath "${1:?usage: $0 SANITIZED_BUILD_DIR}")
REPORTS=$BUILD/sanitizer-reports
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
export ASAN_OPTIONS="log_path=$REPORTS/asan:detect_leaks=1:check_initialization_order=1"
export UBSAN_OPTIONS="log_path=$REPORTS/ubsan:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$(dirname "$(realpath "$0")")/lsan.supp:print_suppressions=0"
(cd "$BUILD" && ctest --output-on-failure -j2 "${@:2}")
status=$?
if compgen -G "$REPORTS/*" >/dev/null; then
    for report in "$REPORTS"/*; do
        echo "=== $(basename "$report")"
        cat "$report"
    done
    echo "The sanitizers reported $(ls "$REPORTS" | wc -l) finding(s)." >&2
    status=1
fi
exit $status
