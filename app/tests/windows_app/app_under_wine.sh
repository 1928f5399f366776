#!/usr/bin/env bash
# vistrel-app.exe under wine, over the fake webcams, driven by the Linux
# vistrel and by vistrel.exe: what a Windows user's commands get, byte for
# byte where the reply is fixed. Run on a display and prefix of its own
# (on-own-display.sh --run).
#   app_under_wine.sh VISTREL VISTREL_EXE APP_EXE VERSION
set -uo pipefail
vistrel=$1
vistrel_exe=$2
app_exe=$3
version=$4

work=$(mktemp -d)
app=
phone=
cleanup() {
    [ -n "$app" ] && kill "$app" 2> /dev/null
    [ -n "$phone" ] && kill "$phone" 2> /dev/null
    wait 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect NAME EXPECTED ACTUAL
expect() {
    if [ "$2" != "$3" ]; then
        fail "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2
    fi
}
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
windows_path() {  # a Linux path as wine's Z: drive names it
    printf 'Z:%s' "${1//\//\\}"
}
port=$(free_port)
mkdir -p "$work/config"
printf 'video0 webcam focus-at=90\n' > "$work/set"

start_app() {  # ARGUMENT...
    wine "$app_exe" --console --port "$port" --config-folder "$(windows_path "$work/config")" \
        --fake-webcams "$(windows_path "$work/set")" --frame-timeout-ms 1500 "$@" \
        > "$work/app.out" 2> "$work/app.err" &
    app=$!
    for _ in $(seq 600); do
        grep -q listening "$work/app.out" 2> /dev/null && return 0
        kill -0 "$app" 2> /dev/null || break
        sleep 0.1
    done
    cat "$work/app.err" >&2
    echo "vistrel-app.exe did not start" >&2
    exit 1
}
v() { "$vistrel" --port="$port" "$@"; }
# vistrel.exe under wine, its line ends as Linux's.
v_exe() { wine "$vistrel_exe" --port="$port" "$@" | tr -d '\r'; }
probe() {  # FILE ENTRIES
    ffprobe -v error -count_frames -show_entries "$2" -of default=noprint_wrappers=1 "$1" 2>&1
}

start_app --simulated-camera
expect "first line" "vistrel-app $version listening on http://127.0.0.1:$port/api" "$(head -1 "$work/app.out" | tr -d '\r')"

# --- status and devices, from both clients
status="vistrel \"$version\" on port $port
  camera  0
  size    1280x720"
expect "status" "$status" "$(v status)"
expect "status from vistrel.exe" "$status" "$(v_exe status)"
devices="    0  Fake HD Webcam                     focusable
  sim  Simulated camera (test scene)      focusable
  screen  Screen desktop 1280x720, 1 monitor (1280x720) fixed focus"
expect "devices" "$devices" "$(v devices)"
expect "devices from vistrel.exe" "$devices" "$(v_exe devices)"

# --- the fake webcam through every endpoint
cd "$work"
expect "snap" "snap.jpg  " "$(v snap --size 640x480 --out snap.jpg | sed 's/[0-9]* bytes$//')"
expect "snap's size" "width=640
height=480" "$(probe snap.jpg stream=width,height)"
# The first photo is as bright as a settled one: the fake's first frames
# are dark until its exposure settles.
first=$(ffmpeg -v error -i snap.jpg -vf scale=1:1,format=gray -f rawvideo - | od -An -tu1 | tr -d ' ')
[ "${first:-0}" -ge 60 ] || fail "the first photo is dark (mean level ${first:-none})"
focus=$(v focus | head -1)
locked=$(sed -n 's/^locked focus \([0-9]*\) .*/\1/p' <<< "$focus")
{ [ -n "$locked" ] && [ "$locked" -ge 80 ] && [ "$locked" -le 100 ]; } || fail "focus locked far from 90: $focus"
expect "set" "\"focus\" = 60 (was $locked)" "$(v set focus 60)"
expect "controls after set" "  focus          0..250  now 60" "$(v controls | grep '^  focus ')"
expect "unknown control" "error: unknown control \"iris\"; the controls are focus, autofocus, zoom, exposure, auto_exposure, brightness, contrast, saturation, gain, white_balance, auto_white_balance, power_line_frequency
1" "$(v set iris 3 2>&1; echo $?)"
v_exe snap --device sim --out sim.jpg > /dev/null || fail "vistrel.exe snap of the simulated camera"
expect "sim photo" "width=1280
height=720" "$(probe sim.jpg stream=width,height)"

# --- unplugged: refused at once, back when plugged in again
: > "$work/set"
expect "unplugged" "1" "$(v snap --device 0 --out gone.jpg > /dev/null 2>&1; echo $?)"
[ -e gone.jpg ] && fail "a photo was written from an unplugged camera"
printf 'video0 webcam focus-at=90\n' > "$work/set"
v snap --device 0 --out back.jpg > /dev/null || fail "the camera plugged in again"

# --- the screen
v screenshot --out screen.png > /dev/null || fail "screenshot"
expect "screenshot's size" "width=1280
height=720" "$(probe screen.png stream=width,height)"
v record --secs 2 --out two.webm > /dev/null || fail "record webm"
expect "webm" "codec_name=vp8
r_frame_rate=25/1
nb_read_frames=50" "$(probe two.webm stream=codec_name,r_frame_rate,nb_read_frames)"
expect "mp4 under wine" "error: MP4 needs Windows' H.264 encoder (Media Foundation), which this Windows lacks (no H.264 encoder is installed); use --format webm
1" "$(v record --secs 1 --format mp4 --out one.mp4 2>&1; echo $?)"
[ -e one.mp4 ] && fail "an MP4 was written though refused"

# --- a network camera: added, used, replaced, forgotten
phone_port=$(free_port)
cp snap.jpg "$work/shot.jpg"
python3 -m http.server "$phone_port" --bind 127.0.0.1 --directory "$work" > /dev/null 2>&1 &
phone=$!
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$phone_port/shot.jpg" -o /dev/null && break; sleep 0.1; done
v add-source phone "http://127.0.0.1:$phone_port/shot.jpg" > /dev/null || fail "add-source"
v snap --device net:phone --out phone.jpg > /dev/null || fail "snap of the network camera"
cmp -s phone.jpg snap.jpg || fail "the network camera's photo is not what it served"
v add-source phone "http://127.0.0.1:$phone_port/sim.jpg" > /dev/null || fail "add-source replacing"
expect "sources" "  net:phone            http://127.0.0.1:$phone_port/sim.jpg" "$(v sources)"
grep -q sim.jpg "$work/config/sources.json" || fail "sources.json was not written in the config folder"
v forget-source phone > /dev/null || fail "forget-source"
expect "sources after forget" "no phone / IP cameras registered
  add one: vistrel add-source phone http://<phone-ip>:8080/shot.jpg" "$(v sources)"

# --- the server's guards, as on Linux
code() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
api=http://127.0.0.1:$port/api
expect "health" 200 "$(code "$api/health")"
expect "foreign Host" 403 "$(code -H 'Host: example.com' "$api/health")"
expect "foreign Origin" 403 "$(code -H 'Origin: https://example.com' "$api/health")"
expect "cross-site fetch" 403 "$(code -H 'Sec-Fetch-Site: cross-site' "$api/health")"
expect "head too large" 431 "$(code -H "X-Big: $(head -c 20000 /dev/zero | tr '\0' a)" "$api/health")"
expect "body too large" 413 "$(code -X POST -H 'Content-Type: application/json' -H 'Content-Length: 99999999' \
    --data-binary '{}' "$api/sources")"

# --- one instance per user and port
second=$(wine "$app_exe" --console --port "$port" 2>&1 | tr -d '\r')
expect "second instance" "vistrel-app: another vistrel-app of this user already serves port $port (quit it from its icon in the notification area, or start this one with --port N)" "$second"

# --- stopping the app cuts a recording short, and its client hears why
v record --secs 20 --out long.webm > long.out 2> long.err &
recording=$!
sleep 3
wine taskkill /im "$(basename "$app_exe")" > /dev/null 2>&1
wait "$recording"
expect "recording cut short" "1 error: the recording was cut short: vistrel-app is stopping" "$? $(cat long.err)"
[ -e long.webm ] && fail "a cut-short recording left a file"
for _ in $(seq 100); do kill -0 "$app" 2> /dev/null || break; sleep 0.1; done
kill -0 "$app" 2> /dev/null && fail "vistrel-app.exe did not end when asked to"
wait "$app"
expect "app's exit status" 0 "$?"
app=

if [ "$failures" -gt 0 ]; then
    echo "--- vistrel-app.exe's log:" >&2
    cat "$work/app.err" >&2
    exit 1
fi
echo "vistrel-app.exe under wine: every check passed"
