#!/usr/bin/env bash
# Builds Dorvantis with its tests and runs them all (unit, window and
# end-to-end tests against the bundled TDS server on loopback), then builds
# the Debian package and checks it (scripts/package-test.sh).
# Usage: bash scripts/test.sh [extra ctest arguments]
# DORVANTIS_SANITIZE=1 builds and runs them under ASan and UBSan.
# DORVANTIS_SANITIZE=thread builds and runs only the tests labelled `threads`
# (the table readers and the comparison run) under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

# Every C++ file as clang-format writes it (the style is .clang-format).
if ! git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror; then
    echo "Files above are not formatted: run clang-format -i on them" >&2
    exit 1
fi

build=build/test
sanitize=OFF
bench=ON  # built (so that it keeps compiling), never run here
targets=(all)
tests=()
case "${DORVANTIS_SANITIZE:-0}" in
0) ;;
1)
    build=build/sanitize
    sanitize=ON
    bench=OFF  # the ordinary pass already compiles it
    export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    ;;
thread)
    # Only what the threads' tests need: Debian's Qt is not built with TSan, so
    # the windows' tests would be slow and report what Qt does unseen.
    build=build/tsan
    sanitize=thread
    bench=OFF
    targets=(threads_tests)
    tests=(-L threads)
    # The first report fails the test; tsan.supp holds only what is not ours.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/support/tsan.supp${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
    ;;
*)
    echo "DORVANTIS_SANITIZE must be 0, 1 or thread, not '$DORVANTIS_SANITIZE'" >&2
    exit 2
    ;;
esac
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DDORVANTIS_WERROR=ON -DDORVANTIS_SANITIZE="$sanitize" -DDORVANTIS_BUILD_BENCH="$bench" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

# No seams may open a real message box outside the MessageBoxes implementation:
# one that slips through would hang an offscreen run.
if grep -rn --include='*.cpp' --include='*.h' 'QMessageBox' src | grep -v '^src/platform/ui/QtMessageBoxes'; then
    echo "QMessageBox used outside src/platform/ui/QtMessageBoxes" >&2
    exit 1
fi

(cd "$build" && ctest --no-tests=error --output-on-failure -j "$(nproc)" "${tests[@]}" "$@")

# The Debian package and what it installs, in a full run only, and once per CI
# run: the sanitizers would not change what it proves.
if [ "$sanitize" = OFF ] && [ "$#" -eq 0 ]; then
    bash scripts/package-test.sh "$build/bin/tds-server"
fi
