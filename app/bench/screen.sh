#!/usr/bin/env bash
# What a screenshot costs on an X display (Xvfb) at 1280x720, 1920x1080 and
# 3840x2160, with a desktop-like picture on it (desktop_painter.cpp):
#   - app: the app's own time for GET /frame.jpg?device=screen, from the
#     request to the first byte of the reply (curl's time to first byte);
#     "app 1568": the same fitted within 1568 pixels, as agents ask for it;
#   - vistrel: `vistrel screenshot` as a whole process (start, request,
#     reply, file written);
#   - scrot and maim: `scrot -o FILE.jpg` and `maim FILE.jpg`, whole
#     processes, on the same display;
#   - with BEFORE_BUILD_DIR, app and vistrel again with that build's app.
# Each figure is the median (and the fastest) of RUNS runs, in
# milliseconds. scrot and maim are used only here (Debian packages scrot and
# maim); a missing one is left out.
#
#   app/bench/screen.sh [BUILD_DIR] [BEFORE_BUILD_DIR] [RUNS]     (default: build/release, none, 20)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
before=${2:-}
runs=${3:-20}
app=$(realpath "$build/app/vistrel-app")
vistrel=$(realpath "$build/src/vistrel")
painter=$(realpath "$build/app/bench/vistrel_desktop_painter")
before_app=
[ -n "$before" ] && before_app=$(realpath "$before/app/vistrel-app")
source app/bench/start_app.sh

now_ns() { date +%s%N; }
# stats MS...: "median (fastest)"
stats() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%6.1f (%5.1f)", v[int((NR + 1) / 2)], v[1] }'; }
# whole COMMAND...: milliseconds of each of $runs runs of COMMAND
whole() {
    local times=() start
    for _ in $(seq "$runs"); do
        start=$(now_ns)
        "$@" > /dev/null 2>&1
        times+=("$(awk -v a="$start" -v b="$(now_ns)" 'BEGIN { print (b - a) / 1e6 }')")
    done
    stats "${times[@]}"
}
# first_byte URL: the app's own time, each of $runs requests
first_byte() {
    local times=()
    for _ in $(seq "$runs"); do
        times+=("$(curl -s -o /dev/null -w '%{time_starttransfer}' "$1" | awk '{ print $1 * 1000 }')")
    done
    stats "${times[@]}"
}

# measure LABEL APP: the app's figures with APP serving the display
measure() {
    local label=$1 binary=$2
    start_app env XDG_CONFIG_HOME="$work" TMPDIR="$work" "$binary"
    local url="http://127.0.0.1:$port/api/frame.jpg?device=screen"
    curl -s -o /dev/null "$url"  # the first picture sets up what the next ones reuse
    printf '  %-22s %s\n' "$label app" "$(first_byte "$url")"
    local fit=$((width > 1568 ? 1568 : width))
    printf '  %-22s %s\n' "$label app 1568" "$(first_byte "$url&width=$fit")"
    printf '  %-22s %s\n' "$label vistrel" "$(cd "$work" && whole "$vistrel" screenshot --port "$port" --out shot.jpg)"
    kill "$app_pid"
    wait "$app_pid" 2> /dev/null || true
    app_pid=
}

echo "milliseconds: median (fastest) of $runs runs"
for size in 1280x720 1920x1080 3840x2160; do
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3> "$work/display" 2> "$work/xvfb.log" &
    xvfb_pid=$!
    pids+=("$xvfb_pid")
    until [ -s "$work/display" ]; do sleep 0.05; done
    display=:$(head -1 "$work/display")
    export DISPLAY=$display
    # The painter keeps its picture up while its input stays open.
    mkfifo "$work/painter.in"
    "$painter" < "$work/painter.in" > "$work/painter.out" &
    pids+=($!)
    exec 4> "$work/painter.in"
    until grep -q painted "$work/painter.out" 2> /dev/null; do sleep 0.05; done

    echo "$size"
    width=${size%x*}
    measure after "$app"
    [ -n "$before_app" ] && measure before "$before_app"
    if command -v scrot > /dev/null; then
        printf '  %-22s %s\n' "scrot -o" "$(cd "$work" && whole scrot -o shot.jpg)"
    fi
    if command -v maim > /dev/null; then
        printf '  %-22s %s\n' "maim" "$(cd "$work" && whole maim shot.jpg)"
    fi
    echo "  (a picture: $(stat -c %s "$work/shot.jpg") bytes from the last tool)"

    exec 4>&-
    rm -f "$work/painter.in" "$work/display"
    kill "$xvfb_pid"
    wait "$xvfb_pid" 2> /dev/null || true
done
