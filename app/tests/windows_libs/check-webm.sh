#!/usr/bin/env bash
# Reads the WebM of known colours that the Windows test program wrote under
# wine with Linux's ffprobe and ffmpeg, as a user's player would: VP8 in
# WebM, 322x182, 25 frames a second, 50 frames, 2 s, and the colours of each
# pair of halves (see test_pictures.h) after encoding, within a small
# tolerance.
set -euo pipefail
file=$1
[ -s "$file" ] || { echo "no WebM at $file"; exit 1; }
status=0

info=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=codec_name,width,height,r_frame_rate,avg_frame_rate,nb_read_frames \
    -show_entries format=format_name,duration -of default=noprint_wrappers=1 "$file")
expect() {  # KEY VALUE
    local got
    got=$(sed -n "s/^$1=//p" <<< "$info")
    if [ "$got" != "$2" ]; then
        echo "$1: expected $2, got ${got:-nothing}"
        status=1
    fi
}
expect codec_name vp8
expect format_name matroska,webm
expect width 322
expect height 182
expect r_frame_rate 25/1
expect avg_frame_rate 25/1
expect nb_read_frames 50
expect duration 2.000000

# Colours: frames 5, 15, ..., 45 (the middle of each pair's ten), at the
# middle of each half.
colours=("200 40 40" "40 180 70" "50 70 210" "230 230 230" "20 20 20")
width=322 height=182
frames=$(mktemp)
trap 'rm -f "$frames"' EXIT
ffmpeg -v error -i "$file" -f rawvideo -pix_fmt rgb24 -y "$frames"
frame_bytes=$((width * height * 3))
[ "$(stat -c %s "$frames")" -eq $((frame_bytes * 50)) ] || { echo "decoded frames have the wrong size"; exit 1; }
near() {  # FRAME X Y EXPECTED
    local offset=$(($1 * frame_bytes + ($3 * width + $2) * 3))
    read -r r g b < <(od -An -tu1 -j "$offset" -N 3 "$frames")
    read -r er eg eb <<< "$4"
    local d
    for d in $((r - er)) $((g - eg)) $((b - eb)); do
        if [ "${d#-}" -gt 10 ]; then
            echo "frame $1 at $2,$3: expected about $4, got $r $g $b"
            status=1
            return
        fi
    done
}
for pair in 0 1 2 3 4; do
    frame=$((pair * 10 + 5))
    near "$frame" 80 91 "${colours[pair]}"
    near "$frame" 240 91 "${colours[(pair + 1) % 5]}"
done
[ $status -eq 0 ] && echo "$file: VP8, 322x182, 25/1, 50 frames, 2 s, colours as painted"
exit $status
