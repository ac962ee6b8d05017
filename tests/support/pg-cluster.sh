#!/usr/bin/env bash
# A throwaway PostgreSQL cluster on loopback for the database tests.
#   pg-cluster.sh start STATE_DIR   initdb into a fresh temporary folder, start on a free port,
#                                   write STATE_DIR/cluster.env (PGDATA, PGPORT, PGHOST)
#   pg-cluster.sh stop STATE_DIR    stop the cluster named there and remove its folder
#   pg-cluster.sh pause STATE_DIR   stop its server and keep its data (an outage)
#   pg-cluster.sh resume STATE_DIR  start that server again on the same port
# Runs the server as the system user postgres when started as root (initdb refuses root).
set -euo pipefail

command=${1:-}
state_dir=${2:-}
if [[ -z "$command" || -z "$state_dir" ]]; then
    echo "usage: $0 start|stop|pause|resume STATE_DIR" >&2
    exit 2
fi

pg_bin() {
    local dir
    if command -v pg_config >/dev/null 2>&1 && [[ -x "$(pg_config --bindir)/initdb" ]]; then
        pg_config --bindir
        return
    fi
    for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
        if [[ -x "$dir/initdb" ]]; then
            echo "$dir"
            return
        fi
    done
    dir=$(dirname "$(command -v initdb 2>/dev/null || echo /nonexistent/initdb)")
    [[ -x "$dir/initdb" ]] && echo "$dir" && return
    echo "pg-cluster: no PostgreSQL server binaries (initdb) found" >&2
    exit 1
}

as_server_user() {
    if [[ $(id -u) -eq 0 ]]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

free_port() {
    python3 - <<'PY' 2>/dev/null || echo $((20000 + RANDOM % 20000))
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

server_options() {
    echo "-c listen_addresses=127.0.0.1 -p $1 -c unix_socket_directories='$2' -c fsync=off -c max_connections=60"
}

stop_cluster() {
    local env_file="$state_dir/cluster.env"
    [[ -f "$env_file" ]] || return 0
    # shellcheck disable=SC1090
    source "$env_file"
    if [[ -n "${WATCHDOG:-}" ]]; then
        kill -- "-$WATCHDOG" 2>/dev/null || kill "$WATCHDOG" 2>/dev/null || true
    fi
    if [[ -n "${PGDATA:-}" && -d "$PGDATA" ]]; then
        as_server_user "$(pg_bin)/pg_ctl" -D "$PGDATA" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
        rm -rf "$(dirname "$PGDATA")"
    fi
    rm -f "$env_file"
}

case "$command" in
start)
    mkdir -p "$state_dir"
    stop_cluster
    bin=$(pg_bin)
    root=$(mktemp -d /tmp/k500100-pg.XXXXXX)
    chmod 755 "$root"
    data="$root/data"
    mkdir "$data"
    [[ $(id -u) -eq 0 ]] && chown postgres: "$data"
    if ! as_server_user "$bin/initdb" -D "$data" -U postgres --auth=trust -E UTF8 --no-locale >"$root/initdb.log" 2>&1; then
        cat "$root/initdb.log" >&2
        rm -rf "$root"
        echo "pg-cluster: initdb failed" >&2
        exit 1
    fi
    for attempt in 1 2 3 4 5; do
        port=$(free_port)
        if as_server_user "$bin/pg_ctl" -D "$data" -l "$data/server.log" -w -t 60 -o "$(server_options "$port" "$data")" \
            start >/dev/null; then
            # A watchdog stops the cluster by itself should the stop never come (an aborted run).
            stop_command="'$bin/pg_ctl' -D '$data' -m immediate -w -t 30 stop; rm -rf '$root'"
            [[ $(id -u) -eq 0 ]] && stop_command="runuser -u postgres -- '$bin/pg_ctl' -D '$data' -m immediate -w -t 30 stop; rm -rf '$root'"
            setsid bash -c "sleep ${K500100_PG_LIFETIME:-1800}; $stop_command" </dev/null >/dev/null 2>&1 &
            watchdog=$!
            printf 'PGDATA=%s\nPGPORT=%s\nPGHOST=127.0.0.1\nWATCHDOG=%s\n' "$data" "$port" "$watchdog" \
                >"$state_dir/cluster.env"
            echo "pg-cluster: started on 127.0.0.1:$port ($data)"
            exit 0
        fi
    done
    cat "$data/server.log" >&2 || true
    rm -rf "$root"
    echo "pg-cluster: the server did not start" >&2
    exit 1
    ;;
stop)
    stop_cluster
    echo "pg-cluster: stopped"
    ;;
pause | resume)
    # shellcheck disable=SC1090
    source "$state_dir/cluster.env"
    if [[ "$command" == pause ]]; then
        as_server_user "$(pg_bin)/pg_ctl" -D "$PGDATA" -m fast -w -t 30 stop >/dev/null
    else
        as_server_user "$(pg_bin)/pg_ctl" -D "$PGDATA" -l "$PGDATA/server.log" -w -t 60 \
            -o "$(server_options "$PGPORT" "$PGDATA")" start >/dev/null
    fi
    echo "pg-cluster: ${command}d"
    ;;
*)
    echo "usage: $0 start|stop|pause|resume STATE_DIR" >&2
    exit 2
    ;;
esac
