#!/usr/bin/env bash
# Sourced by the run and screenshot scripts from the repository's top folder:
# installs what is missing, builds the program and the TDS server in
# build/run, starts the server with the demo databases on a free loopback port
# (stopped when the calling script exits) and points the program at private
# settings, pre-filled with the demo login, and a private driver registration.
# The databases: demo, and Sales_Restore, demo as restored from an older
# backup (demo-restore.sql run after demo.sql), to compare across databases.
# Sets $build, $work, $port, XDG_CONFIG_HOME, ODBCSYSINI and the function cleanup.
# What it says goes to standard error: standard output is the program's.
bash scripts/install-deps.sh >&2

build=build/run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVANTIS_BUILD_TESTS=OFF \
    -DDORVANTIS_BUILD_TDS_SERVER=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >&2

source scripts/tds-server.sh
work=$(mktemp -d)
chmod 700 "$work"
cleanup() {
    tds_server_stop
    rm -rf "$work"
}
trap cleanup EXIT

if ! tds_server_start "$work" "$build/bin/tds-server" --user demo:demo \
    --database demo=tools/tds-server/demo.sql \
    --database Sales_Restore=tools/tds-server/demo.sql,tools/tds-server/demo-restore.sql; then
    echo "The demo database server did not start." >&2
    exit 1
fi
port=$tds_port
echo "Demo databases demo and Sales_Restore on 127.0.0.1:$port (user demo, password demo)" >&2

# The program's settings, pre-filled with the demo login.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME/Veltrane"
chmod 700 "$XDG_CONFIG_HOME" "$XDG_CONFIG_HOME/Veltrane"
settings="$XDG_CONFIG_HOME/Veltrane/Dorvantis.conf"
cat >"$settings" <<CONF
[Dorvantis]
MSServer=127.0.0.1
MSUser=demo
MSPassword=demo
MSDatabase=demo
Port=$port
Local%20Connection=0
Encrypt=1
CONF
chmod 600 "$settings"

# FreeTDS registered as "SQL Server" for this run only.
export ODBCSYSINI="$work/odbc"
mkdir -p "$ODBCSYSINI"
driver=$(tdsodbc_driver)
printf '[SQL Server]\nDescription=FreeTDS ODBC driver\nDriver=%s\n' "$driver" >"$ODBCSYSINI/odbcinst.ini"
: >"$ODBCSYSINI/odbc.ini"

