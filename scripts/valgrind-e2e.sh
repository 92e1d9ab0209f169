#!/usr/bin/env bash
# Runs one whole comparison through the windows (login, table selection,
# results) against the TDS test server under valgrind's memcheck: the real
# data-access layer, unixODBC and FreeTDS in one process. Fails on an invalid
# read or write, a use of uninitialised memory, or a definite leak that is not
# suppressed as another library's (tests/support/valgrind.supp).
# Usage: bash scripts/valgrind-e2e.sh [gtest filter, default one comparison test]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test valgrind

filter=${1:-EndToEnd.TextsDatesBytesAndNulls}
build=build/valgrind
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDORVANTIS_BUILD_BENCH=OFF >/dev/null
nice -n 10 cmake --build "$build" -j "$(nproc)" --target tds-server windows_e2e_test

# The server the end-to-end tests expect (the CTest fixture's), in a state
# folder of its own; stopped however this script ends.
state=$PWD/$build/e2e-valgrind
bash tests/e2e/tds-fixture.sh start "$build/bin/tds-server" "$state" >/dev/null
trap 'bash tests/e2e/tds-fixture.sh stop "$state"' EXIT

log=$build/valgrind-e2e.log
out=$build/valgrind-e2e.out
echo "valgrind memcheck: windows_e2e_test --gtest_filter=$filter"
status=0
ODBCSYSINI=$PWD/$build/odbc DORVANTIS_TDS_PORT_FILE=$state/tds.port \
    nice -n 10 valgrind --tool=memcheck --error-exitcode=99 \
    --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
    --suppressions=tests/support/valgrind.supp --num-callers=40 --log-file="$log" \
    "$build/tests/e2e/windows_e2e_test" --gtest_filter="$filter" >"$out" 2>&1 || status=$?

grep -E '^\[  (PASSED|FAILED)  \]' "$out" | sed 's/^/  /' || true
grep -E 'ERROR SUMMARY|definitely lost:|indirectly lost:|suppressed:' "$log" | sed 's/^==[0-9]*== */  /'
# A filter that matches nothing would pass without running anything.
if [ "$status" -eq 0 ] && ! grep -qE '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$out"; then
    echo "No test matched '$filter'" >&2
    exit 1
fi
case $status in
0) echo "No memory errors and no definite leaks (valgrind log: $log)." ;;
99) echo "memcheck found errors or definite leaks: see $log" >&2 ;;
*) echo "The test failed under valgrind (exit $status): see $out" >&2 ;;
esac
exit "$status"
