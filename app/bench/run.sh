#!/usr/bin/env bash
# /health latency of vistrel-app under the loads of a hostile client:
#   - idle, for comparison;
#   - 200 connections that send their request heads one line a second;
#   - 64 requests for 4096x4096 camera frames kept in flight.
# Each line gives the 50th and 99th percentile and the longest /health time
# over 500 probes, as the client makes them (a fresh connection each).
#
#   app/bench/run.sh [BUILD_DIR]     (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/release}
app=$(realpath "$build/app/vistrel-app")
bench=$(realpath "$build/app/bench/vistrel_app_health_bench")
source app/bench/start_app.sh

# No display: the simulated camera is the load, the screen plays no part.
start_app env -u DISPLAY XDG_CONFIG_HOME="$work" TMPDIR="$work" "$app" --simulated-camera

"$bench" "$port" idle 0 500
"$bench" "$port" slow-heads 200 500
"$bench" "$port" frames 64 500 4096
