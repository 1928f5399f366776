#!/usr/bin/env bash
# Builds the Windows zip from the windows build and checks it: the programs,
# the README and the licence at the top of one folder, and vistrel.exe from
# the zip running under wine.
#
#   check-zip.sh     (after: cmake --preset windows && cmake --build --preset windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
packages=$PWD/build/packages

rm -f "$packages"/*.zip
cpack_log=$(cpack --preset windows 2>&1) || {
    echo "$cpack_log" >&2
    exit 1
}
zip=$(echo "$packages"/vistrel-*-windows-x86_64.zip)
folder=$(basename "$zip" .zip)
echo "$(basename "$zip"): $(stat -c %s "$zip") bytes"

expected="README.md LICENSE.txt vistrel.exe"
for program in vistrel-mcp.exe vistrel-app.exe; do
    if [ -n "$(find build/windows -name "$program" -print -quit)" ]; then expected+=" $program"; fi
done
expected=$(printf "$folder/%s\n" $expected | sort)
actual=$(cmake -E tar tf "$zip" | sort)
if [ "$actual" != "$expected" ]; then
    echo "FAIL: the zip holds:" >&2
    echo "$actual" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
first=$(wine "$work/$folder/vistrel.exe" help 2> /dev/null | head -1 | tr -d '\r')
if [ "$first" != "vistrel — eyes for an AI agent" ]; then
    echo "FAIL: vistrel.exe help from the zip printed: $first" >&2
    exit 1
fi
echo "zip checked: $(tr '\n' ' ' <<< "$expected")"
