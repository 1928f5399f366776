#!/usr/bin/env bash
# `snap` through vistrel-mcp against the app's own time and `vistrel snap`,
# on one vistrel-app with its simulated camera under a private Xvfb; and
# vistrel-mcp's resident memory over the calls. Then, through the SDK's
# client (tests/mcp/node/bench.mjs), screenshots and a cancelled recording.
#
#   bench/mcp.sh [BUILD_DIR] [CALLS]     (defaults: build/release, 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
calls=${2:-1000}
cmake --build "$build" --target vistrel vistrel-mcp vistrel-app mcp_bench > /dev/null
work=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2> /dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 2> /dev/null &
pids+=($!)
until [ -s "$work/display" ]; do sleep 0.05; done
DISPLAY=:$(cat "$work/display") XDG_CONFIG_HOME=$work "$build/app/vistrel-app" --port 0 --simulated-camera \
    > "$work/app.log" 2>&1 &
pids+=($!)
until grep -q listening "$work/app.log" 2> /dev/null; do sleep 0.05; done
port=$(sed -n 's|.*127\.0\.0\.1:\([0-9]*\)/api.*|\1|p' "$work/app.log" | head -1)

"$build/bench/mcp_bench" "$build/src/mcp/vistrel-mcp" "$build/src/vistrel" "$port" "$calls"

# Through the SDK's client, when its packages are installed (npm ci there):
# screenshots of a 1920x1080 screen, and a new recording after a cancel.
if [ -d tests/mcp/node/node_modules ]; then
    export VISTREL_MCP_BIN=$(realpath "$build/src/mcp/vistrel-mcp") VISTREL_APP_BIN=$(realpath "$build/app/vistrel-app") \
        VISTREL_BIN=$(realpath "$build/src/vistrel")
    (cd tests/mcp/node && node bench.mjs 50 2> /dev/null)
fi
