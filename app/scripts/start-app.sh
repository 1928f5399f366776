#!/usr/bin/env bash
# Starts vistrel-app in the background for this user, under a virtual X
# display (Xvfb) when neither DISPLAY nor WAYLAND_DISPLAY is set, and waits
# until it answers.
#
#   start-app.sh [--simulated-camera] [PATH/TO/vistrel-app]
#
# --simulated-camera is passed on to the app, which then also serves a
# simulated camera filming a test chart. The app listens on VISTREL_PORT,
# else 7777. Its pid, log and those of Xvfb go to $XDG_RUNTIME_DIR/vistrel
# (else /tmp/vistrel-UID); stop-app.sh stops both.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
app_options=()
if [ "${1:-}" = --simulated-camera ]; then
    app_options+=(--simulated-camera)
    shift
fi
app=${1:-$here/../../build/release/app/vistrel-app}
if [ ! -x "$app" ]; then
    echo "start-app: no vistrel-app at $app" >&2
    echo "  build it first: cmake --preset release && cmake --build --preset release" >&2
    exit 1
fi

state=${XDG_RUNTIME_DIR:-/tmp}/vistrel
[ -n "${XDG_RUNTIME_DIR:-}" ] || state=/tmp/vistrel-$(id -u)
mkdir -p -m 700 "$state"

alive() {  # PIDFILE
    [ -s "$1" ] && kill -0 "$(cat "$1")" 2> /dev/null
}

if alive "$state/app.pid"; then
    echo "vistrel-app is already running (pid $(cat "$state/app.pid")); stop it with: bash $here/stop-app.sh"
    exit 0
fi

# Detached from this terminal, so that closing it does not stop the app.
detached=()
if command -v setsid > /dev/null; then detached=(setsid); fi

# A Wayland session has its own screen; Xvfb is only for a machine without any.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    if ! command -v Xvfb > /dev/null; then
        echo "start-app: DISPLAY is not set and Xvfb is not installed (apt-get install xvfb);" >&2
        echo "  starting without a screen: screenshot and record will be refused" >&2
    else
        if alive "$state/xvfb.pid" && [ -s "$state/display" ]; then
            display=$(cat "$state/display")
        else
            # Xvfb picks a free display number itself and writes it to fd 3.
            rm -f "$state/display"
            "${detached[@]}" Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset \
                3> "$state/display" > "$state/xvfb.log" 2>&1 &
            echo $! > "$state/xvfb.pid"
            for _ in $(seq 100); do
                [ -s "$state/display" ] && break
                sleep 0.1
            done
            if [ ! -s "$state/display" ]; then
                echo "start-app: Xvfb did not start; see $state/xvfb.log" >&2
                exit 1
            fi
            display=$(tr -d '\n' < "$state/display")
        fi
        export DISPLAY=:$display
    fi
fi

"${detached[@]}" "$app" "${app_options[@]}" > "$state/app.log" 2>&1 < /dev/null &
echo $! > "$state/app.pid"
for _ in $(seq 100); do
    grep -q "listening on" "$state/app.log" 2> /dev/null && break
    if ! alive "$state/app.pid"; then
        echo "start-app: vistrel-app stopped at once:" >&2
        cat "$state/app.log" >&2
        rm -f "$state/app.pid"
        exit 1
    fi
    sleep 0.1
done

echo "$(head -n 1 "$state/app.log") (pid $(cat "$state/app.pid"), DISPLAY=${DISPLAY:-none}, WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-none})"
grep -m 1 "^vistrel-app: screen: " "$state/app.log" || true
if [ ${#app_options[@]} -gt 0 ]; then echo "options: ${app_options[*]}"; fi
echo "log: $state/app.log"
echo "stop it with: bash $here/stop-app.sh"
