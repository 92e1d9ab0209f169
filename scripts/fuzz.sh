#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz, then runs each in turn for a
# bounded time, starting from its committed seeds (tests/fuzz/corpus/<target>).
# Fails when any target reports a crash, a leak, a time-out or runs out of
# memory; the input that did it is left in build/fuzz/runs/<target>/.
# Usage: bash scripts/fuzz.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test fuzz

seconds=${1:-60}
shift || true
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DDORVANTIS_FUZZ=ON -DDORVANTIS_BUILD_TESTS=OFF -DDORVANTIS_WERROR=ON >/dev/null
nice -n 10 cmake --build "$build" -j "$(nproc)" --target fuzzers

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for f in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

failed=()
for t in "${targets[@]}"; do
    work=$build/runs/$t
    rm -rf "$work"
    mkdir -p "$work/corpus"
    # Scratch files (the settings target writes a file each run) in memory
    # when possible: the settings store syncs every file it saves to disk.
    tmp=$(mktemp -d /dev/shm/dorvantis-fuzz.XXXXXX 2>/dev/null || mktemp -d)
    echo "== $t: ${seconds} s"
    # New inputs go to the first folder; the committed seeds stay as they are.
    # One at a time and niced: the machine is shared.
    if TMPDIR=$tmp nice -n 10 "$build/bin/$t" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" \
        "$work/corpus" "tests/fuzz/corpus/$t" >"$work/log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed+=("$t")
    fi
    rm -rf "$tmp"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/log" | tail -n1)
    echo "   $status: ${runs:-?} runs, ${cov:-no coverage line}, corpus $(ls "$work/corpus" | wc -l) new inputs"
    if [ "$status" = FAILED ]; then
        grep -m1 -E 'ERROR: |runtime error|_fuzz: ' "$work/log" | sed 's/^/   /' || true
        ls "$work" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | sed "s|^|   input: $work/|" || true
        echo "   log: $work/log"
    fi
done

if [ "${#failed[@]}" -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
echo "No faults found (${#targets[@]} targets, ${seconds} s each)."
