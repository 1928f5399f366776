#!/usr/bin/env bash
# Measures vistrel side by side with curl in one run:
#   - start-up: `vistrel status` against a fast local app, `vistrel help`
#     against a trivial static C++ program;
#   - transfer: `vistrel snap` against `curl -s -o` and against the floor (a
#     minimal C reader that only receives and writes) for 1 KiB, 256 MiB and
#     1 GiB replies: wall time and peak resident memory;
#   - large JSON replies: `vistrel devices` on 8 MB and 50 MB devices replies
#     against `curl -s` of the same reply, and the client's reading of the
#     text (body_json) against a plain parse of it by the JSON library.
# Needs hyperfine, curl and /usr/bin/time (Debian: hyperfine curl time).
#
#   bench/run.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
vistrel=$(realpath "$build/src/vistrel")
server=$(realpath "$build/bench/reply_server")
floor=$(realpath "$build/bench/floor_reader")
json_parse=$(realpath "$build/bench/json_parse")
work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

start_server() {  # NAME BYTES [json]: serves on a free port, kept in $NAME
    local log=$work/server-$1.log
    "$server" 0 "${@:2}" > "$log" &
    pids+=($!)
    until grep -q ready "$log" 2>/dev/null; do sleep 0.05; done
    printf -v "$1" '%s' "$(awk '{ print $2 }' "$log")"
}
mean_ms() {  # CSV from hyperfine, row N (1-based): mean in ms
    awk -F, -v row="$2" 'NR == row + 1 { printf "%.2f", $2 * 1000 }' "$1"
}
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

printf 'int main() { return 0; }\n' > "$work/trivial.cpp"
g++ -O2 -static -o "$work/trivial" "$work/trivial.cpp"

start_server health 0 json
start_server small 1024
start_server large 268435456
start_server huge 1073741824
start_server devices8 8000000 devices
start_server devices50 50000000 devices
cd "$work"

echo "== start-up"
hyperfine -N --warmup 50 --runs 1000 --export-csv startup.csv \
    "$vistrel status --port=$health" "curl -s http://127.0.0.1:$health/api/health" \
    "$vistrel help" "$work/trivial" > /dev/null
status=$(mean_ms startup.csv 1); curl_status=$(mean_ms startup.csv 2)
help=$(mean_ms startup.csv 3); trivial=$(mean_ms startup.csv 4)
printf '%-44s %9s ms\n' "vistrel status" "$status" "curl -s (same reply)" "$curl_status" \
    "vistrel help" "$help" "trivial static C++ program" "$trivial"
awk -v a="$status" -v b="$curl_status" 'BEGIN { printf "status / curl: %.3f\n", a / b }'
awk -v a="$help" -v b="$trivial" 'BEGIN { printf "help / trivial: %.2f\n", a / b }'

echo
echo "== transfer (snap vs curl -s -o vs the floor)"
printf '%-8s %11s %11s %11s %8s %8s %12s %12s %12s\n' body "vistrel ms" "curl ms" "floor ms" \
    "v/curl" "v/floor" "vistrel KiB" "curl KiB" "floor KiB"
for case in "1KiB $small 200" "256MiB $large 10" "1GiB $huge 5"; do
    set -- $case
    url="http://127.0.0.1:$2/api/frame.jpg?_="
    hyperfine -N --warmup 1 --runs "$3" --export-csv "transfer-$1.csv" \
        "$vistrel snap --port=$2 --out $work/v.bin" "curl -s -o $work/c.bin $url" "$floor $2 $work/f.bin" > /dev/null
    cmp -s v.bin c.bin && cmp -s v.bin f.bin || { echo "the files differ" >&2; exit 1; }
    v=$(mean_ms "transfer-$1.csv" 1); c=$(mean_ms "transfer-$1.csv" 2); f=$(mean_ms "transfer-$1.csv" 3)
    vm=$(peak_kib "$vistrel" snap --port="$2" --out "$work/v.bin")
    cm=$(peak_kib curl -s -o "$work/c.bin" "$url")
    fm=$(peak_kib "$floor" "$2" "$work/f.bin")
    printf '%-8s %11s %11s %11s %8s %8s %12s %12s %12s\n' "$1" "$v" "$c" "$f" \
        "$(awk -v a="$v" -v b="$c" 'BEGIN { printf "%.2f", a / b }')" \
        "$(awk -v a="$v" -v b="$f" 'BEGIN { printf "%.2f", a / b }')" "$vm" "$cm" "$fm"
done
echo "(bounds: vistrel at most 8192 KiB whatever the body; time at most curl's and within 1.2 x the floor)"

echo
echo "== large JSON replies (vistrel devices vs curl -s; reading vs a plain parse)"
printf '%-8s %11s %11s   %s\n' reply "vistrel ms" "curl ms" "in process"
for case in "8MB $devices8 5" "50MB $devices50 3"; do
    set -- $case
    url="http://127.0.0.1:$2/api/devices"
    curl -s -o "$work/devices-$1.json" "$url"
    hyperfine -N --warmup 1 --runs "$3" --export-csv "devices-$1.csv" \
        "$vistrel devices --port=$2" "curl -s -o /dev/null $url" > /dev/null
    printf '%-8s %11s %11s   %s\n' "$1" "$(mean_ms "devices-$1.csv" 1)" "$(mean_ms "devices-$1.csv" 2)" \
        "$("$json_parse" "$work/devices-$1.json" 5)"
done
echo "(bound: reading costs at most twice a plain parse of the same text)"
