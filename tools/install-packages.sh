#!/usr/bin/env bash
# Installs the Debian packages listed in tools/packages.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=$(grep -v '^#' tools/packages.txt | tr '\n' ' ')
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $packages
