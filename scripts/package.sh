#!/usr/bin/env bash
# Builds the Debian package of the program alone (no tests, no test server):
# build/package/dorvantis_<version>_<architecture>.deb. Install it with
#   sudo apt install ./build/package/dorvantis_*.deb
# Compiled with Debian's hardening flags, as the distribution's own packages are.
# DORVANTIS_WERROR=ON makes compiler warnings errors (the test command sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package

build=build/package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The Release build type chooses the optimisation; the package is stripped,
# so debug information would only cost build time.
export DEB_CFLAGS_MAINT_STRIP="-g -O2" DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DDORVANTIS_BUILD_TESTS=OFF -DDORVANTIS_BUILD_TDS_SERVER=OFF -DDORVANTIS_BUILD_BENCH=OFF \
    -DDORVANTIS_WERROR="${DORVANTIS_WERROR:-OFF}" \
    -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)"

rm -f "$build"/dorvantis_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/dorvantis_*.deb
