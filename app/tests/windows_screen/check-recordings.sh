#!/usr/bin/env bash
# Reads the recordings that the Windows recorder's tests made under wine
# with Linux's ffprobe and ffmpeg, as a user's player would: VP8 in WebM at
# 25 frames a second, 25 x secs frames, as long as its frames, and the fake
# screen's colours at the times they were shown (see windows_recorder_test.cpp:
# colour k from (k - 0.5) / 2 s to (k + 0.5) / 2 s, round and round).
#   check-recordings.sh FOLDER
set -euo pipefail
folder=$1
status=0
colours=("200 40 40" "40 180 70" "50 70 210" "230 230 230")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# What ffprobe says of FILE, read once a file.
probe() {  # FILE KEY
    local facts=$scratch/$(basename "$1").facts
    [ -f "$facts" ] || ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_frames \
        -show_entries format=format_name,duration -of default=noprint_wrappers=1 "$1" > "$facts"
    sed -n "s/^$2=//p" "$facts"
}
expect() {  # FILE KEY VALUE
    local got
    got=$(probe "$1" "$2")
    if [ "$got" != "$3" ]; then
        echo "$(basename "$1"): $2 expected $3, got ${got:-nothing}"
        status=1
    fi
}
# Colour K at the middle of frame N, within a small tolerance after encoding.
colour_at() {  # FILE FRAME K
    local file=$1 frame=$2 expected=${colours[$3]} width height r g b er eg eb d
    width=$(probe "$file" width)
    height=$(probe "$file" height)
    ffmpeg -v error -i "$file" -vf "select=eq(n\,$frame)" -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "$scratch/frame"
    read -r r g b < <(od -An -tu1 -j $(((height / 2 * width + width / 2) * 3)) -N 3 "$scratch/frame")
    read -r er eg eb <<< "$expected"
    for d in $((r - er)) $((g - eg)) $((b - eb)); do
        if [ "${d#-}" -gt 12 ]; then
            echo "$(basename "$file"): frame $frame is $r $g $b, expected colour $3 ($expected)"
            status=1
            return
        fi
    done
}

for name in quick slow large failing early preview; do
    file=$folder/$name.webm
    [ -s "$file" ] || { echo "no recording $file"; status=1; continue; }
    expect "$file" codec_name vp8
    expect "$file" format_name matroska,webm
    expect "$file" r_frame_rate 25/1
    expect "$file" avg_frame_rate 25/1
    case $name in
        early)
            frames=$(probe "$file" nb_read_frames)
            expect "$file" duration "$(awk -v n="$frames" 'BEGIN { printf "%.6f", n / 25 }')"
            ;;
        *)
            expect "$file" nb_read_frames 50
            expect "$file" duration 2.000000
            ;;
    esac
done
expect "$folder/quick.webm" width 320
expect "$folder/quick.webm" height 180
expect "$folder/large.webm" width 1920
# Each colour in the middle of its half second.
for k in 0 1 2 3; do colour_at "$folder/quick.webm" $((k * 25 / 2)) $k; done
colour_at "$folder/quick.webm" 49 0
colour_at "$folder/quick.webm" 22 2
# Grabs failed from 0.5 to 1 s: the frame of 0.5 s stood in until then.
colour_at "$folder/failing.webm" 22 1
colour_at "$folder/failing.webm" 37 3
[ $status -eq 0 ] && echo "recordings: VP8, 25/1, 25 frames a second as long, colours as shown"
exit $status
