#!/usr/bin/env bash
# Builds Dorvantis's benchmarks in Release (build/bench) and runs the
# comparison benchmark: the comparison behind "Next >" against plain block
# fetches of the same tables, through a private TDS test server on loopback.
# Usage: bash scripts/bench.sh [--sizes 100k,1M,10M] [--repeat K] [--catalogue TABLES]
# Installs what is missing first (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh bench

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DDORVANTIS_BUILD_BENCH=ON -DDORVANTIS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target comparison_stream_bench

exec "$build/bench/comparison_stream_bench" "$@"
