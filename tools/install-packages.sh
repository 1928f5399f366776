#!/usr/bin/env bash
# Installs the Debian packages of the named lists that are not installed yet:
#   install-packages.sh [build] [test]
# build: tools/packages-build.txt, what building and running the programs
# needs (the default); test: tools/packages-test.txt, what the tests need
# beyond that. apt is asked only when something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
lists=("$@")
[ ${#lists[@]} -gt 0 ] || lists=(build)
wanted=()
for list in "${lists[@]}"; do
    file=tools/packages-$list.txt
    if [ ! -f "$file" ]; then
        echo "install-packages: no list $file" >&2
        exit 2
    fi
    while read -r package; do
        case $package in '' | '#'*) continue ;; esac
        wanted+=("$package")
    done < "$file"
done
missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f '${db:Status-Status}' "$package" 2> /dev/null || true)
    [ "$status" = installed ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "install-packages: everything in ${lists[*]} is installed"
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "install-packages: installing ${missing[*]}"
# The programs alone need nothing that their packages only recommend; the
# tests are run as they always were, with what is recommended.
recommends=()
[ "${lists[*]}" != build ] || recommends=(--no-install-recommends)
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${recommends[@]}" "${missing[@]}" > /dev/null
