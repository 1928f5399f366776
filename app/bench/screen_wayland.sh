#!/usr/bin/env bash
# What a screenshot costs the app on a wlroots compositor: a headless sway
# (tests/wayland/headless-session.sh, pixman renderer) at 1280x720, 1920x1080
# and 3840x2160 with a colourful test picture as its background, the app's
# own time for GET /frame.jpg?device=screen (request to first byte), for
# this build and, with BEFORE_BUILD_DIR, for that one. Median (fastest) of
# RUNS requests, in milliseconds.
#
#   app/bench/screen_wayland.sh [BUILD_DIR] [BEFORE_BUILD_DIR] [RUNS]     (default: build/release, none, 20)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
before=${2:-}
runs=${3:-20}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
# The session may run as another user, who must reach the apps.
chmod 755 "$folder"
mkdir -m 755 "$folder/bin"
install -m 755 "$build/app/vistrel-app" "$folder/bin/after"
[ -n "$before" ] && install -m 755 "$before/app/vistrel-app" "$folder/bin/before"
cat > "$folder/bin/measure.sh" << 'MEASURE'
#!/usr/bin/env bash
# In the session: each app in turn, $1 requests.
set -uo pipefail
for label in after before; do
    app=$(dirname "$0")/$label
    [ -x "$app" ] || continue
    out=$(mktemp)
    "$app" --port 0 > "$out" 2> /dev/null &
    pid=$!
    until grep -q listening "$out" 2> /dev/null; do sleep 0.05; done
    port=$(sed -n 's#.*127\.0\.0\.1:\([0-9]*\)/api.*#\1#p' "$out")
    url="http://127.0.0.1:$port/api/frame.jpg?device=screen"
    # swaybg paints a moment after sway starts; the first picture also sets
    # up what the next ones reuse.
    sleep 1
    curl -s -o /dev/null "$url"
    for _ in $(seq "$1"); do curl -s -o /dev/null -w '%{time_starttransfer}\n' "$url"; done |
        awk '{ print $1 * 1000 }' | sort -n |
        awk -v l="$label" '{ v[NR] = $1 } END { printf "  %-8s app %6.1f (%5.1f)\n", l, v[int((NR + 1) / 2)], v[1] }'
    kill "$pid"
    wait "$pid" 2> /dev/null
    rm -f "$out"
done
MEASURE
chmod 755 "$folder/bin/measure.sh"

echo "milliseconds: median (fastest) of $runs requests"
for size in 1280x720 1920x1080 3840x2160; do
    ffmpeg -v error -f lavfi -i "testsrc2=size=$size" -frames:v 1 "$folder/background-$size.png"
    chmod 644 "$folder/background-$size.png"
    mkdir -m 755 "$folder/session-$size"
    echo "$size"
    app/tests/wayland/headless-session.sh --resolution "$size" --background "$folder/background-$size.png stretch" \
        "$folder/session-$size" "$folder/bin/measure.sh" "$runs"
done
