#!/usr/bin/env bash
# The in-process WebM writer's cost per frame at 1280x720 and 1920x1080
# under wine, on this machine: a benchmark to run by hand, never a test.
#   bash app/tests/windows_libs/bench-webm.sh [BUILD_DIR [FRAMES]]
# BUILD_DIR is a Windows build configured with -DVISTREL_WINDOWS_LIBS_TESTS=ON
# (build/windows by default); FRAMES per size, 100 by default.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/windows}
frames=${2:-100}
cmake --build "$build" --target vistrel_windows_webm_bench > /dev/null
export WINEPREFIX=${WINEPREFIX:-$root/build/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
echo "$(nproc) cores, load $(cut -d ' ' -f 1-3 /proc/loadavg)"
wine "$build/app/tests/windows_libs/vistrel_windows_webm_bench.exe" "$frames"
