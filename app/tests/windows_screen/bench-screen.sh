#!/usr/bin/env bash
# A screenshot's and a recording's cost through the GDI backend under wine,
# on an Xvfb of 1280x720 and one of 1920x1080 (screen_bench.cpp), beside
# the size of the Windows app's core: a benchmark to run by hand, never a
# test.
#   bash app/tests/windows_screen/bench-screen.sh [BUILD_DIR [SHOTS [SECS]]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${1:-$root/build/windows}
shots=${2:-30}
secs=${3:-5}
cmake --build "$build" --target vistrel_windows_screen_bench vistrel_app_core > /dev/null
echo "$(nproc) cores, load $(cut -d ' ' -f 1-3 /proc/loadavg)"
for size in 1280x720 1920x1080; do
    echo "== Xvfb $size"
    bash "$here/on-own-display.sh" "$size" "$build/wine-prefix-screen" \
        "$build/app/tests/windows_screen/vistrel_windows_screen_bench.exe" "$shots" "$secs"
done
echo "== size"
stat -c '%s bytes %n' "$build/app/libvistrel_app_core.a"
