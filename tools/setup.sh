#!/usr/bin/env bash
# From a fresh Debian machine to a focused photo: installs what is needed,
# builds vistrel and vistrel-app, starts the app in the background (under
# Xvfb when there is no display) with --simulated-camera, so that there is
# a camera to try even without a webcam, and runs `vistrel look`, which
# leaves vistrel.jpg in the current folder.
set -euo pipefail
here=$PWD
started=no
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-packages.sh build
# The programs only: the tests (tools/test.sh) bring what they need.
cmake --preset release -DVISTREL_BUILD_TESTS=OFF > /dev/null
cmake --build --preset release --target vistrel vistrel-mcp vistrel-app
vistrel=$root/build/release/src/vistrel

if ! "$vistrel" status > /dev/null 2>&1; then
    bash app/scripts/start-app.sh --simulated-camera "$root/build/release/app/vistrel-app"
    started=yes
fi
cd "$here"
"$vistrel" status
looked=yes
"$vistrel" look || looked=no
echo
mcp=$root/build/release/src/mcp/vistrel-mcp
# The default camera is "sim" only when the app found no webcam.
default_camera=$("$vistrel" status --json 2> /dev/null | sed -n 's/^ *"device": "\(.*\)",\{0,1\}$/\1/p')
if [ "$looked" = no ]; then
    echo "No photo: the app has no camera (it was already running, without --simulated-camera)."
    echo "Plug in a webcam (any UVC webcam) and run: $vistrel look"
    echo "or restart the app with its simulated camera:"
    echo "  bash $root/app/scripts/stop-app.sh; bash $root/app/scripts/start-app.sh --simulated-camera"
elif [ "$default_camera" = sim ]; then
    echo "No webcam was found: vistrel.jpg shows the simulated camera's test chart (vistrel-app"
    echo "was started with --simulated-camera). Plug in a webcam (any UVC webcam) and run"
    echo "  $vistrel look"
    echo "again: a webcam is always the default camera when there is one."
elif [ "$started" = yes ]; then
    echo "vistrel.jpg comes from webcam $default_camera. vistrel-app was started with"
    echo "--simulated-camera, so \"sim\", a simulated camera filming a test chart, is there too."
fi
echo
echo "vistrel is $vistrel"
echo "Give the MCP server to an agent: its command is $mcp, for example"
echo "  claude mcp add vistrel -- $mcp"
echo "or, in an agent's JSON configuration:"
echo "  {\"mcpServers\": {\"vistrel\": {\"command\": \"$mcp\"}}}"
echo "Stop the app with: bash $root/app/scripts/stop-app.sh"
[ "$looked" = yes ]
