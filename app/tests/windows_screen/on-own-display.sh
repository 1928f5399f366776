#!/usr/bin/env bash
# Runs a Windows program under wine on an X display of its own: a fresh
# Xvfb of the given size, and a wine prefix kept for such runs alone, whose
# wine server is ended before and after. Wine's desktop process keeps the
# display of the program that started it, so programs on different
# displays must not share a prefix (CTest runs them one at a time).
#   on-own-display.sh WIDTHxHEIGHT PREFIX PROGRAM [ARGUMENT...]
#   on-own-display.sh WIDTHxHEIGHT PREFIX --run COMMAND [ARGUMENT...]
# The second runs a Linux command (a test script that starts Windows
# programs itself) with DISPLAY, WINEPREFIX and the rest set.
set -euo pipefail
size=$1
prefix=$(realpath -m "$2")
shift 2
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
# No desktop menu entries from wine; no .NET or Gecko installers; a crash
# ends the program rather than waiting in wine's debugger.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=;winedbg.exe=d"
mkdir -p "$prefix"
wineserver -k 2> /dev/null || true
wineserver -w 2> /dev/null || true

folder=$(mktemp -d)
xvfb=
cleanup() {
    wineserver -k 2> /dev/null || true
    wineserver -w 2> /dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2> /dev/null && wait "$xvfb" 2> /dev/null
    rm -rf "$folder"
}
trap cleanup EXIT
# Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3> "$folder/display" 2> "$folder/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$folder/display" ] && break
    kill -0 "$xvfb" 2> /dev/null || { cat "$folder/xvfb.log" >&2; echo "Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
[ -s "$folder/display" ] || { echo "Xvfb gave no display" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' < "$folder/display")
if [ "$1" = --run ]; then
    shift
    "$@"
else
    wine "$@"
fi
