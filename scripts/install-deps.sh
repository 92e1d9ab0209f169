#!/usr/bin/env bash
# Installs what building, running and testing Dorvantis needs on Debian 12,
# and registers FreeTDS's ODBC driver as "SQL Server" when no driver of that
# name exists yet. Idempotent: installs only what is missing.
# Usage: bash scripts/install-deps.sh [SET ...]
#   (none)         what builds the program and runs it on the demo database
#   test           also what the test command needs (scripts/test.sh)
#   bench          also what the benchmarks need (scripts/bench.sh)
#   screenshots    also the X tools that take the README's pictures
#   fuzz           also clang and its sanitizer and libFuzzer runtimes (scripts/fuzz.sh)
#   valgrind       also valgrind (scripts/valgrind-e2e.sh)
#   package        also what builds the Debian package (scripts/package.sh)
#   package-check  also the tools that check it (scripts/package-test.sh)
set -euo pipefail

# The program (SQLite keeps a run's differing records), and the demo
# database's server (SQLite too; nettle computes its HASHBYTES digests,
# OpenSSL its TLS). Unifont draws the symbols the windows show for control
# characters (U+2400..U+2426), which Liberation and DejaVu lack.
packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libgl-dev
    unixodbc unixodbc-dev tdsodbc
    libsqlite3-dev nettle-dev libssl-dev
    fonts-liberation fonts-unifont
)

# The tests, the style check over the tracked files, the clipboard test's X
# server, libFuzzer's FuzzedDataProvider.h (in clang's runtimes package),
# with which the fuzz targets' seeds are replayed as tests, and the HTML
# report's readers: a real HTML parser and a real browser engine.
test_packages=(
    git clang-format freetds-bin
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth xclip
    libclang-rt-14-dev
    python3 python3-html5lib chromium
)
bench_packages=(libbenchmark-dev)
screenshot_packages=(xvfb xauth xdotool imagemagick)
# Only for the reliability checks, so that the ordinary build and test do not
# install a second compiler. Debian's clang leaves libFuzzer and the sanitizer
# runtimes to libclang-rt-14-dev, which it only recommends.
fuzz_packages=(clang libclang-rt-14-dev)
valgrind_packages=(valgrind)
# dpkg-shlibdeps names the libraries' packages; dpkg-buildflags gives Debian's
# compiler flags.
package_packages=(dpkg-dev)
# lintian is large (Perl and its modules), so only the package check pulls it in.
package_check_packages=(desktop-file-utils lintian man-db imagemagick)
for extra in "$@"; do
    case "$extra" in
    test) packages+=("${test_packages[@]}") ;;
    bench) packages+=("${bench_packages[@]}") ;;
    screenshots) packages+=("${screenshot_packages[@]}") ;;
    fuzz) packages+=("${fuzz_packages[@]}") ;;
    valgrind) packages+=("${valgrind_packages[@]}") ;;
    package) packages+=("${package_packages[@]}") ;;
    package-check) packages+=("${package_packages[@]}" "${package_check_packages[@]}") ;;
    *)
        echo "install-deps.sh: unknown package set '$extra'" \
            "(test, bench, screenshots, fuzz, valgrind, package, package-check)" >&2
        exit 2
        ;;
    esac
done

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The program's connection string names the driver "SQL Server". Register
# FreeTDS under that name for real use, but never replace a driver the
# administrator already configured under it.
if ! odbcinst -q -d -n "SQL Server" >/dev/null 2>&1; then
    driver=$(source "$(dirname "$0")/tds-server.sh" && tdsodbc_driver)
    tmp=$(mktemp)
    printf '[SQL Server]\nDescription=FreeTDS ODBC driver\nDriver=%s\n' "$driver" >"$tmp"
    as_root odbcinst -i -d -f "$tmp" >/dev/null
    rm -f "$tmp"
fi
