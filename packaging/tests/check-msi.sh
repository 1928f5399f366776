#!/usr/bin/env bash
# Builds the per-user installer from the windows build and checks it under
# wine, in a wine prefix of its own: no elevation asked, the three programs
# installed into %LOCALAPPDATA%\Programs\vistrel, vistrel-app started at
# sign-in (the Run value) and in the Start menu, vistrel.exe runs from there,
# and uninstalling leaves none of it behind.
#
#   check-msi.sh     (after: cmake --preset windows && cmake --build --preset windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
rm -f build/packages/*.msi
cmake --build --preset windows --target msi > /dev/null
msi=$(echo "$PWD"/build/packages/vistrel-*-windows-x86_64.msi)
echo "$(basename "$msi"): $(stat -c %s "$msi") bytes"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Word Count 10: compressed, and no elevated privileges required.
msiinfo suminfo "$msi" | grep -qx "Source: 10 (a)" || fail "the installer asks for elevation or is not compressed"

prefix=$(mktemp -d)
trap 'WINEPREFIX=$prefix wineserver -k 2> /dev/null || true; rm -rf "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
wineboot --init > /dev/null 2>&1 || true
user=$(ls "$prefix/drive_c/users" | grep -vx Public | head -1)
programs="$prefix/drive_c/users/$user/AppData/Local/Programs/vistrel"
shortcut="$prefix/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/vistrel-app.lnk"
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

wine msiexec /i "$msi" /qn || fail "msiexec /i failed"
for file in vistrel.exe vistrel-mcp.exe vistrel-app.exe README.md LICENSE.txt; do
    [ -f "$programs/$file" ] || fail "$file was not installed"
done
[ -f "$shortcut" ] || fail "no Start menu entry"
run_value=$(wine reg query "$run_key" /v vistrel-app 2> /dev/null | tr -d '\r' | grep vistrel-app || true)
[[ $run_value == *'"C:\users\'*'\AppData\Local\Programs\vistrel\vistrel-app.exe"' ]] || fail "Run value: $run_value"
first=$(wine "$programs/vistrel.exe" help 2> /dev/null | head -1 | tr -d '\r')
[ "$first" = "vistrel — eyes for an AI agent" ] || fail "the installed vistrel.exe printed: $first"

wine msiexec /x "$msi" /qn || fail "msiexec /x failed"
[ ! -e "$programs" ] || fail "uninstalling left $(ls "$programs")"
[ ! -e "$shortcut" ] || fail "uninstalling left the Start menu entry"
if wine reg query "$run_key" /v vistrel-app > /dev/null 2>&1; then fail "uninstalling left the Run value"; fi
echo "msi checked: installed per user, started at sign-in, in the Start menu, removed whole"
