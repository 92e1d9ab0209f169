# Sourced by the scripts that run the TDS test server for a while (the demo,
# the package check): starting it on a free loopback port, stopping it, and
# where FreeTDS's ODBC driver is.

# tds_server_start DIR BINARY [ARG...]: starts BINARY --port 0 ARG..., its
# output and log in DIR; sets tds_pid and tds_port. Returns 1, with the
# server's log on standard error, when it does not listen within 10 s.
tds_server_start() {
    local dir=$1 binary=$2
    shift 2
    "$binary" --port 0 "$@" </dev/null >"$dir/tds.out" 2>"$dir/tds.log" &
    tds_pid=$!
    tds_port=
    for _ in $(seq 100); do
        # The output file may not exist yet: the background shell opens it
        # when it gets to run (and set -e must not end the script then).
        tds_port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$dir/tds.out" 2>/dev/null | head -n1 || true)
        [ -n "$tds_port" ] && return 0
        kill -0 "$tds_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$dir/tds.log" >&2
    return 1
}

# tds_server_stop: stops the server tds_server_start started, if it runs.
tds_server_stop() {
    if [ -n "${tds_pid:-}" ] && kill -0 "$tds_pid" 2>/dev/null; then
        kill -TERM "$tds_pid" 2>/dev/null || true
        wait "$tds_pid" 2>/dev/null || true
    fi
}

# tdsodbc_driver: the path of FreeTDS's ODBC driver library.
tdsodbc_driver() { dpkg -L tdsodbc | grep -m1 '/libtdsodbc\.so$'; }
