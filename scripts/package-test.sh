#!/usr/bin/env bash
# Builds the Debian package and proves its contents: unpacks it into a
# throw-away root (dpkg-deb -x) and checks the file list, the menu entry, the
# manual page, lintian's verdict, the maintainer scripts' driver registration
# (against a private odbcinst.ini) and the installed program itself, which
# must run a comparison against the TDS test server.
# Usage: bash scripts/package-test.sh [TDS_SERVER_BINARY]   (default build/test/bin/tds-server)
set -euo pipefail
cd "$(dirname "$0")/.."
server_binary=${1:-build/test/bin/tds-server}
bash scripts/install-deps.sh package-check
[ -x "$server_binary" ] || {
    echo "package-test: no test server at $server_binary (build the test tree first)" >&2
    exit 1
}

deb=$(DORVANTIS_WERROR=ON bash scripts/package.sh | tail -n1)
work=$(mktemp -d)
source scripts/tds-server.sh
cleanup() {
    tds_server_stop
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "package-test: FAILED: $*" >&2
    failures=$((failures + 1))
}

root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
version=$(dpkg-deb -f "$deb" Version)
echo "Checking $deb"

# Exactly the program's files: nothing missing, and nothing of the tests,
# the test server or the benchmarks.
expected=(
    usr/bin/dorvantis
    usr/share/applications/dorvantis.desktop
    usr/share/doc/dorvantis/changelog.gz
    usr/share/doc/dorvantis/copyright
    usr/share/dorvantis/HAND-M.CUR
    usr/share/dorvantis/local-connection-example.jpg
    usr/share/man/man1/dorvantis.1.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/dorvantis.png")
done
if ! diff -u <(printf '%s\n' "${expected[@]}" | sort) \
    <(cd "$root" && find . ! -type d -printf '%P\n' | sort); then
    fail "the package's files differ from the expected list (- expected, + in the package)"
fi
for size in 16 22 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/dorvantis.png
    if [ ! -f "$icon" ] || [ "$(identify -format '%wx%h' "$icon")" != "${size}x${size}" ]; then
        fail "icon $icon is not ${size}x${size}"
    fi
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in tdsodbc odbcinst libodbc2 libqt6widgets6 libsqlite3-0 fonts-unifont; do
    [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "no executable $script in the package"
done

# The menu entry.
desktop=$root/usr/share/applications/dorvantis.desktop
if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
    for line in Type=Application Exec=dorvantis Icon=dorvantis Terminal=false \
        'Categories=Development;Database;'; do
        grep -qxF "$line" "$desktop" || fail "$desktop lacks the line $line"
    done
fi

# The manual page renders without a warning and documents every option the
# program's --help lists.
page=$root/usr/share/man/man1/dorvantis.1.gz
if [ -f "$page" ]; then
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports on $page: $warnings"
    rendered=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS OPTIONS 'EXIT STATUS' ENVIRONMENT FILES; do
        grep -qx "$section" <<<"$rendered" || fail "the manual page has no $section section"
    done
    for option in $("$root/usr/bin/dorvantis" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$rendered" ||
            fail "the manual page does not document $option"
    done
fi

if command -v lintian >/dev/null; then
    # lintian warns when run as root; its findings go to standard output.
    lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian: $(lintian "$deb" 2>/dev/null)"
fi

# The maintainer scripts register the driver as "SQL Server" only when no
# driver has that name, and unregister only their own registration. Run
# as dpkg runs them for another root (DPKG_ROOT), whose etc/odbcinst.ini they use.
driver=$(tdsodbc_driver)
dpkg_root=$work/dpkg-root
marker=$dpkg_root/var/lib/dorvantis/sql-server-driver
fresh_machine() {
    rm -rf "$dpkg_root"
    mkdir -p "$dpkg_root/etc" "$dpkg_root$(dirname "$driver")"
    : >"$dpkg_root/etc/odbcinst.ini"
    ln -s "$driver" "$dpkg_root$driver"
}
run_script() {
    DPKG_ROOT=$dpkg_root sh "$work/control/$1" "$2" >/dev/null || fail "$1 $2 exited $?"
}
registration() { ODBCSYSINI=$dpkg_root/etc odbcinst -q -d -n "SQL Server" 2>/dev/null; }

fresh_machine
run_script postinst configure
registration | grep -qxF "Driver=$driver" || fail "postinst did not register $driver"
[ -f "$marker" ] || fail "postinst registered the driver but left no marker"
run_script prerm upgrade
run_script postinst configure
registration >/dev/null || fail "an upgrade removed the registration"
run_script prerm remove
if registration >/dev/null; then fail "prerm left the package's own registration"; fi
[ ! -e "$marker" ] || fail "prerm left the marker"

fresh_machine
printf '[SQL Server]\nDriver=/opt/admin/odbc.so\n' >"$work/admin.ini"
ODBCSYSINI=$dpkg_root/etc odbcinst -i -d -f "$work/admin.ini" >/dev/null
cp "$dpkg_root/etc/odbcinst.ini" "$work/admin-registered.ini"
run_script postinst configure
cmp -s "$dpkg_root/etc/odbcinst.ini" "$work/admin-registered.ini" ||
    fail "postinst changed the administrator's \"SQL Server\""
[ ! -e "$marker" ] || fail "postinst wrote a marker without registering"
run_script prerm remove
cmp -s "$dpkg_root/etc/odbcinst.ini" "$work/admin-registered.ini" ||
    fail "prerm removed the administrator's \"SQL Server\""

# The installed program runs from the unpacked root with the system's
# libraries alone.
[ "$("$root/usr/bin/dorvantis" --version)" = "dorvantis $version" ] ||
    fail "the installed program's --version is not 'dorvantis $version'"

# And compares two tables of the demo database through unixODBC and FreeTDS.
port=
if tds_server_start "$work" "$server_binary" --user demo:demo \
    --database demo=tools/tds-server/demo.sql; then
    port=$tds_port
fi
if [ -z "$port" ]; then
    fail "the test server did not start"
else
    mkdir -p "$work/odbc" "$work/config"
    printf '[SQL Server]\nDriver=%s\n' "$driver" >"$work/odbc/odbcinst.ini"
    : >"$work/odbc/odbc.ini"
    compare() {
        env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$work" XDG_CONFIG_HOME="$work/config" \
            ODBCSYSINI="$work/odbc" DORVANTIS_PASSWORD=demo \
            "$root/usr/bin/dorvantis" compare "$@" --server 127.0.0.1 --port "$port" \
            --no-local --user demo --database demo
    }
    status=0
    compare Orders Orders2024 >"$work/diff.txt" 2>"$work/diff.err" || status=$?
    [ "$status" = 1 ] || fail "compare Orders Orders2024 exited $status: $(cat "$work/diff.err")"
    for line in 'Record 2,Field "Amount" has changed from "1999.99" to "2099.99"' \
        'Record 9 added from Orders2024'; do
        grep -qxF "$line" "$work/diff.txt" || fail "the comparison lacks the line: $line"
    done
    status=0
    # The same orders with the columns in another order.
    compare Orders OrdersByCustomer --fields by-name >"$work/same.txt" 2>"$work/same.err" ||
        status=$?
    if [ "$status" != 0 ] || [ -s "$work/same.txt" ]; then
        fail "compare Orders OrdersByCustomer --fields by-name exited $status:" \
            "$(cat "$work/same.txt" "$work/same.err")"
    fi
fi

if [ "$failures" -gt 0 ]; then
    echo "package-test: $failures check(s) failed for $deb" >&2
    exit 1
fi
echo "package-test: $deb passed"
