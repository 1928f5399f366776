#!/usr/bin/env bash
# What a webcam costs the app and what its first photo looks like, measured
# on the fake webcam of the tests (tests/fake_webcams): automatic exposure
# that settles over its first 8 frames, continuous autofocus that starts from
# its parked lens and crosses half its range in about 16 frames, and modes at
# 30 frames a second (Motion-JPEG) and at 5 (YUYV at 1920x1080, as many
# webcams offer it). For each:
#   - cold snap: a photo from a camera that is not streaming (open, set the
#     mode, start, drop frames until exposure and focus settle);
#   - warm snap: a photo right after, from the camera kept streaming;
#   - cold look: focus sweep and photo from a camera that is not streaming;
#   each with its time and the frames the camera delivered for it (the
#   look's sweep also with the frames it counted against its budget of 40),
#   and the cold photo's brightness and sharpness against a photo taken once
#   the camera has streamed for several seconds (1.00 = as settled).
# The lens parks at 0 and is sharp at 135: autofocus travels past it and
# back, about 21 frames.
# The fake draws every frame itself, so on a busy machine its drawing adds
# to the times; the frame counts do not depend on the machine.
#
#   app/bench/webcam.sh [BUILD_DIR] [RUNS]     (default: build/release 3)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
runs=${2:-3}
app=$(realpath "$build/app/tests/vistrel-app-with-fake-cameras")
vistrel=$(realpath "$build/src/vistrel")
judge=$(realpath "$build/app/bench/vistrel_app_photo_look")
source app/bench/start_app.sh

# Released 300 ms after each request, so that a pause makes the next
# request start the camera again.
: > "$work/devices"
start_app "$app" --fake-video-devices "$work/devices" --keep-streaming-ms 300
cd "$work"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
frames_logged() { grep -c ' frame ' devices.log 2> /dev/null || true; }
idle() { sleep 0.6; }  # past the 300 ms the camera is kept streaming
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "  -  "; else printf "%5.2f", a / b }'; }

# measure COMMAND...: runs it (its output in out.txt), sets ms and frames
# (the frames the camera delivered meanwhile).
measure() {
    local start before
    before=$(frames_logged)
    start=$(now_ms)
    "$@" > out.txt
    ms=$(($(now_ms) - start))
    frames=$(($(frames_logged) - before))
}
# The frames the last look's sweep counted against its budget of 40.
sweep_frames() { python3 -c 'import json; print(json.load(open("out.txt"))["sweep"]["frames"])'; }

# A photo once exposure and focus have long settled: photos back to back
# for `secs` seconds keep the camera streaming.
settled_photo() {
    local secs=$1 size=("${@:2}") until
    until=$(($(now_ms) + secs * 1000))
    while (($(now_ms) < until)); do
        "$vistrel" snap --port "$port" "${size[@]}" --out settled.jpg > /dev/null
    done
}

bench() {
    local title=$1 node=$2 device=$3 settle_secs=$4 size=("${@:5}")
    echo "== $title, $runs runs"
    for run in $(seq "$runs"); do
        # Plugged in afresh: continuous autofocus on, its lens parked.
        echo "$node $device plugged=$run" > devices
        idle
        measure "$vistrel" snap --port "$port" "${size[@]}" --out cold.jpg
        local cold_ms=$ms cold_frames=$frames
        measure "$vistrel" snap --port "$port" "${size[@]}" --out warm.jpg
        local warm_ms=$ms warm_frames=$frames
        settled_photo "$settle_secs" "${size[@]}"
        echo "$node $device plugged=$((run + 100))" > devices
        idle
        measure "$vistrel" look --port "$port" "${size[@]}" --out look.jpg --json
        local look_ms=$ms look_frames=$frames look_sweep
        look_sweep=$(sweep_frames)
        read -r cold_level cold_sharp < <("$judge" cold.jpg)
        read -r look_level look_sharp < <("$judge" look.jpg)
        read -r settled_level settled_sharp < <("$judge" settled.jpg)
        printf '  cold snap %5d ms %3d frames  (brightness %s, sharpness %s of settled)\n' "$cold_ms" "$cold_frames" \
            "$(ratio "$cold_level" "$settled_level")" "$(ratio "$cold_sharp" "$settled_sharp")"
        printf '  warm snap %5d ms %3d frames\n' "$warm_ms" "$warm_frames"
        printf '  cold look %5d ms %3d frames  (brightness %s, sharpness %s of settled; sweep %d frames)\n' \
            "$look_ms" "$look_frames" "$(ratio "$look_level" "$settled_level")" "$(ratio "$look_sharp" "$settled_sharp")" \
            "$look_sweep"
    done
}

bench "30 frames a second: 1280x720 Motion-JPEG" video0 "webcam focus-at=135" 3
bench "5 frames a second: 1920x1080 YUYV" video2 "webcam formats=yuyv focus-at=135" 8 --size 1920x1080
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
