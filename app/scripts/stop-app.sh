#!/usr/bin/env bash
# Stops what start-app.sh started: vistrel-app and, if it started one, Xvfb.
set -uo pipefail
state=${XDG_RUNTIME_DIR:-/tmp}/vistrel
[ -n "${XDG_RUNTIME_DIR:-}" ] || state=/tmp/vistrel-$(id -u)

stop() {  # NAME PIDFILE EXPECTED-COMMAND
    local name=$1 pidfile=$2 command=$3 pid
    [ -s "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    # Only a process that still is the one started, never a reused pid.
    if kill -0 "$pid" 2> /dev/null && [ "$(cat "/proc/$pid/comm" 2> /dev/null)" = "$command" ]; then
        kill "$pid"
        for _ in $(seq 50); do
            kill -0 "$pid" 2> /dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2> /dev/null && kill -KILL "$pid"
        echo "stopped $name (pid $pid)"
    fi
    rm -f "$pidfile"
}

stop vistrel-app "$state/app.pid" vistrel-app
stop Xvfb "$state/xvfb.pid" Xvfb
rm -f "$state/display"
