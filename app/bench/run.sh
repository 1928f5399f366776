#!/usr/bin/env bash
# /health latency of vistrel-app under the loads of a hostile client and of a
# busy desktop. Without a display:
#   - idle, for comparison;
#   - 200 connections that send their request heads one line a second;
#   - 64 requests for 4096x4096 camera frames kept in flight;
#   - 600 connections at once, each with a whole GET /api/health, every 2 s
#     (the server's own share, with a /health that asks no display).
# On a display of its own (Xvfb, kept up between clients as start-app.sh
# starts it):
#   - idle;
#   - the display server stopped (SIGSTOP) for 8 s, then let go;
#   - four 4096x4096 camera frames being made;
#   - eight source additions waiting on the sources lock, which another
#     process holds (flock);
#   - 600 connections at once, each with a whole GET /api/health, every 2 s.
# Each line gives the 50th and 99th percentile and the longest /health time
# over the probes (one every 20 ms, a fresh connection each, as the client
# makes them), and how many probes got no reply at all; the loads that are
# requests themselves say how they were answered.
#
#   app/bench/run.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
app=$(realpath "$build/app/vistrel-app")
bench=$(realpath "$build/app/bench/vistrel_app_health_bench")
source app/bench/start_app.sh

stop_app() {
    kill "$app_pid"
    wait "$app_pid" 2> /dev/null || true
    app_pid=
}

# No display: the simulated camera is the load, the screen plays no part.
start_app env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work" TMPDIR="$work" "$app" --simulated-camera
"$bench" "$port" idle 0 500 || true
"$bench" "$port" slow-heads 200 500 || true
"$bench" "$port" frames 64 500 4096 || true
"$bench" "$port" burst 600 500 || true
stop_app

# A display of its own, which the app asks about for /health and the screen.
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3> "$work/display" 2> "$work/xvfb.err" &
xvfb_pid=$!
pids+=("$xvfb_pid")
until [ -s "$work/display" ]; do
    kill -0 "$xvfb_pid" 2> /dev/null || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.err" >&2; exit 1; }
    sleep 0.05
done
start_app env -u WAYLAND_DISPLAY DISPLAY=":$(cat "$work/display")" XDG_CONFIG_HOME="$work" TMPDIR="$work" \
    "$app" --simulated-camera
echo "on a display:"
"$bench" "$port" idle 0 500 || true
"$bench" "$port" stopped-display "$xvfb_pid" 400 || true
"$bench" "$port" frames 4 500 4096 || true

# Another process holds the sources lock for as long as it runs.
mkdir -m 700 -p "$work/vistrel"
lock="$work/vistrel/sources.json.lock"
(exec 9> "$lock" && flock 9 && exec sleep 600) &
holder=$!
pids+=("$holder")
while flock -n "$lock" true; do sleep 0.05; done  # until it is held
"$bench" "$port" sources 8 500 || true
kill "$holder"

"$bench" "$port" burst 600 500 || true
