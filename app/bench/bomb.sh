#!/usr/bin/env bash
# Peak memory of vistrel-app while network cameras send decompression bombs:
# a 1.5 MB JPEG that declares 16000x16000 pixels, fetched once, then six
# times at once, with and without a size asked for. Prints the app's peak
# resident memory (VmHWM) after each round.
#
#   app/bench/bomb.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
app=$(realpath "$build/app/vistrel-app")
client=$(realpath "$build/src/vistrel")
source app/bench/start_app.sh

ffmpeg -loglevel error -f lavfi -i color=c=gray:size=16000x16000 -frames:v 1 -q:v 31 "$work/bomb.jpg"
echo "bomb: $(stat -c %s "$work/bomb.jpg") bytes, 16000x16000"
python3 -m http.server 0 --bind 127.0.0.1 --directory "$work" > "$work/http.out" 2>&1 &
pids+=($!)
until grep -q "port" "$work/http.out" 2>/dev/null; do sleep 0.05; done
phone_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/http.out" | head -1)

start_app env -u DISPLAY XDG_CONFIG_HOME="$work" TMPDIR="$work" "$app"
peak() { awk '/VmHWM/ {print $2 " " $3}' "/proc/$app_pid/status"; }

"$client" --port="$port" add-source bomb "http://127.0.0.1:$phone_port/bomb.jpg" > /dev/null
echo "idle: peak $(peak)"
"$client" --port="$port" snap --device net:bomb --out "$work/one.jpg" 2> "$work/one.err" || true
echo "one, no size: peak $(peak): $(cat "$work/one.err")"
for i in 1 2 3 4 5 6; do
    "$client" --port="$port" snap --device net:bomb --size 640x480 --out "$work/six-$i.jpg" 2> /dev/null &
done
wait %3 %4 %5 %6 %7 %8 2> /dev/null || true
echo "six at once, 640x480: peak $(peak)"
