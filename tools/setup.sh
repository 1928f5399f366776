#!/usr/bin/env bash
# From a fresh Debian machine to a focused photo: installs what is needed,
# builds vistrel and vistrel-app, starts the app in the background (under
# Xvfb when there is no display) and runs `vistrel look`, which leaves
# vistrel.jpg in the current folder.
set -euo pipefail
here=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-packages.sh
cmake --preset release > /dev/null
cmake --build --preset release --target vistrel vistrel-app
vistrel=$root/build/release/src/vistrel

if ! "$vistrel" status > /dev/null 2>&1; then
    bash app/scripts/start-app.sh "$root/build/release/app/vistrel-app"
fi
cd "$here"
"$vistrel" status
"$vistrel" look
echo
echo "vistrel is $vistrel"
echo "stop the app with: bash $root/app/scripts/stop-app.sh"
