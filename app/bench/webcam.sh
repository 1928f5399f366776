#!/usr/bin/env bash
# What a webcam costs the app, measured on the fake webcam of the tests
# (tests/fake_v4l2) pacing its frames at 30 per second:
#   - the warm-up: a photo from a camera that is not streaming (open, set
#     the mode, map buffers, start, drop frames until the exposure settles)
#     against a photo from a camera kept streaming, and the frames dropped;
#   - a focus sweep: its time, the frames it took and the positions tried,
#     on a streaming camera and on one that first has to start.
# The fake draws every frame itself, so on a busy machine its drawing adds
# to the times; the frame counts do not depend on the machine.
#
#   app/bench/webcam.sh [BUILD_DIR] [RUNS]     (default: build/release 5)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-5}
app=$(realpath "$build/app/tests/vistrel-app-with-fake-cameras")
vistrel=$(realpath "$build/src/vistrel")
source app/bench/start_app.sh

echo "video0 webcam fps=30 focus-at=135 dark-frames=8" > "$work/devices"
# Released 300 ms after each request, so that a pause makes the next
# request start the camera again.
start_app "$app" --fake-video-devices "$work/devices" --keep-streaming-ms 300
cd "$work"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
frames_logged() { grep -c ' frame ' devices.log 2> /dev/null || true; }
timed() {  # COMMAND...: prints the milliseconds it took
    local start
    start=$(now_ms)
    "$@" > /dev/null
    echo $(($(now_ms) - start))
}
idle() { sleep 0.6; }  # past the 300 ms the camera is kept streaming

echo "== photo (1280x720 Motion-JPEG), $runs runs each"
for _ in $(seq "$runs"); do
    idle
    before=$(frames_logged)
    cold=$(timed "$vistrel" snap --port "$port" --out cold.jpg)
    dropped=$(($(frames_logged) - before - 1))
    warm=$(timed "$vistrel" snap --port "$port" --out warm.jpg)
    echo "  cold ${cold} ms (warm-up dropped $dropped frames)   warm ${warm} ms"
done

echo "== focus sweep, $runs runs each"
sweep() {
    "$vistrel" focus --port "$port" --json | python3 -c '
import json, sys
s = json.load(sys.stdin)["sweep"]
print("%5d ms  %2d frames  %2d discarded  %2d positions  locked at %d" %
      (s["ms"], s["frames"], s["discarded"], len(s["samples"]), s["focus"]))'
}
for _ in $(seq "$runs"); do
    "$vistrel" snap --port "$port" --out warm.jpg > /dev/null
    printf '  streaming:   '
    sweep
    idle
    printf '  from cold:   '
    sweep
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
