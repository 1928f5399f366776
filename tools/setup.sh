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
bash tools/install-packages.sh
cmake --preset release > /dev/null
cmake --build --preset release --target vistrel vistrel-app
vistrel=$root/build/release/src/vistrel

if ! "$vistrel" status > /dev/null 2>&1; then
    bash app/scripts/start-app.sh --simulated-camera "$root/build/release/app/vistrel-app"
    started=yes
fi
cd "$here"
"$vistrel" status
"$vistrel" look
echo
if [ "$started" = yes ]; then
    echo "vistrel-app was started with --simulated-camera: besides any webcam it serves"
    echo "\"sim\", a simulated camera filming a test chart, which is the default camera"
    echo "only when no webcam is found (the \"camera\" line of vistrel status above names"
    echo "the camera vistrel.jpg came from)"
fi
echo "vistrel is $vistrel"
echo "stop the app with: bash $root/app/scripts/stop-app.sh"
