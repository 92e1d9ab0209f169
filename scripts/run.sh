#!/usr/bin/env bash
# Builds Dorvantis and starts it against the bundled TDS server, which serves
# the demo database on a free loopback port. Settings and driver registration
# live in private temporary folders; nothing of the user's is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build/run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVANTIS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

source scripts/demo-env.sh

"$build/bin/dorvantis"
