#!/usr/bin/env bash
# Starts and stops the TDS test server shared by the end-to-end tests.
#   tds-fixture.sh start SERVER_BINARY STATE_DIR   -> STATE_DIR/tds.port, tds.pid, tds.log
#   tds-fixture.sh stop STATE_DIR
# A server that does not come up is a failure, never a skip.
set -euo pipefail

stop_server() {
    local dir=$1 pid
    [ -f "$dir/tds.pid" ] || return 0
    pid=$(cat "$dir/tds.pid")
    rm -f "$dir/tds.pid" "$dir/tds.port"
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    echo "tds-server (pid $pid) ignored SIGTERM for 5 s; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
    return 1
}

case "${1:-}" in
start)
    server=$2
    dir=$3
    mkdir -p "$dir"
    stop_server "$dir" || true
    rm -f "$dir/tds.out"
    # Own session and no shared pipes, so that CTest does not wait for it.
    setsid "$server" --port 0 \
        --user tester:secret --user 'semi:pa;ss}word' \
        --user '{lead;er}:{pa}ss' --user 'tail: a=b; c}}' \
        --database testdb --database otherdb --database emptydb \
        </dev/null >"$dir/tds.out" 2>"$dir/tds.log" &
    pid=$!
    echo "$pid" >"$dir/tds.pid"
    for _ in $(seq 100); do
        # The server's output file may not exist yet: the background shell
        # opens it when it gets to run (and set -e must not end the script then).
        port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$dir/tds.out" 2>/dev/null | head -n1 || true)
        if [ -n "$port" ]; then
            echo "$port" >"$dir/tds.port.tmp"
            mv "$dir/tds.port.tmp" "$dir/tds.port"
            echo "tds-server pid $pid listening on 127.0.0.1:$port"
            exit 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "tds-server exited before listening:" >&2
            cat "$dir/tds.log" >&2
            rm -f "$dir/tds.pid"
            exit 1
        fi
        sleep 0.1
    done
    echo "tds-server did not print its PORT line within 10 s:" >&2
    cat "$dir/tds.log" >&2
    stop_server "$dir" || true
    exit 1
    ;;
stop)
    stop_server "$2"
    ;;
*)
    echo "usage: $0 start SERVER_BINARY STATE_DIR | stop STATE_DIR" >&2
    exit 2
    ;;
esac
