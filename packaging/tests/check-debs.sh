#!/usr/bin/env bash
# Builds the Debian packages from the release build and checks them as a user
# gets them: lintian (an error fails), then the programs, man pages, systemd
# user unit and shell completions run from the packages unpacked into a
# throwaway root.
#
#   check-debs.sh     (after: cmake --preset release && cmake --build --preset release)
set -euo pipefail
cd "$(dirname "$0")/../.."
here=$PWD/packaging/tests
packages=$PWD/build/packages

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

rm -f "$packages"/*.deb
cpack_log=$(cpack --preset deb 2>&1) || {
    echo "$cpack_log" >&2
    exit 1
}
client_deb=$(echo "$packages"/vistrel_*.deb)
app_deb=$(echo "$packages"/vistrel-app_*.deb)
version=$(dpkg-deb -f "$client_deb" Version)
project_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' build/release/CMakeCache.txt)
[ "$version" = "$project_version" ] || fail "package version $version, project version $project_version"
for deb in "$client_deb" "$app_deb"; do
    echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
    dpkg-deb -f "$deb" Depends Recommends Suggests | sed -e 's/^/  /' -e '$a\'
done

# Lintian: errors fail the run; what else it says is shown.
lint=$(lintian --fail-on error "$client_deb" "$app_deb" 2>&1) || fail "lintian reports errors"
grep -v '^running with root privileges' <<< "$lint" || true

root=$(mktemp -d)
app_pid=""
cleanup() {
    [ -z "$app_pid" ] || kill "$app_pid" 2> /dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$client_deb" "$root"
dpkg-deb -x "$app_deb" "$root"
vistrel=$root/usr/bin/vistrel

# The client needs nothing beyond the C library; the app only what it declares.
if [ -n "$(dpkg-deb -f "$client_deb" Depends)" ]; then fail "vistrel declares dependencies: its programs must be static"; fi
dpkg-deb -f "$app_deb" Depends | grep -qw ffmpeg || fail "vistrel-app does not depend on ffmpeg"

"$vistrel" help | head -1 | grep -qx 'vistrel — eyes for an AI agent' || fail "vistrel help"
[ "$("$root/usr/bin/vistrel-app" --version)" = "vistrel-app $version" ] || fail "vistrel-app --version"
if [ -e "$root/usr/bin/vistrel-mcp" ]; then
    [ "$("$root/usr/bin/vistrel-mcp" --version)" = "vistrel-mcp $version" ] || fail "vistrel-mcp --version"
    initialize='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18",'
    initialize+='"capabilities":{},"clientInfo":{"name":"check","version":"1"}}}'
    timeout 10 "$root/usr/bin/vistrel-mcp" <<< "$initialize" | grep -q '"serverInfo":{[^}]*"version":"'"$version"'"' ||
        fail "vistrel-mcp's serverInfo does not show version $version"
fi

# The installed app serves the installed client, and reports the version.
export XDG_CONFIG_HOME=$root/config
coproc app { DISPLAY= exec "$root/usr/bin/vistrel-app" --port 0 --simulated-camera 2>&1; }
app_pid=$app_PID
read -r -t 10 first_line <&"${app[0]}" || true
port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/api$|\1|p' <<< "${first_line:-}")
if [ -z "$port" ]; then
    fail "vistrel-app did not start: ${first_line:-no output}"
else
    status=$("$vistrel" status --port="$port") || fail "vistrel status"
    [ "$(head -1 <<< "$status")" = "vistrel \"$version\" on port $port" ] || fail "status: $status"
    VISTREL_PORT=$port PATH=$root/usr/bin:$PATH bash "$here/completion-test.sh" "$root" || fail "completions"
    kill -TERM "$app_pid"
    wait "$app_pid" && app_pid="" || fail "vistrel-app did not stop cleanly on SIGTERM"
fi
app_pid=""

# The user unit, as systemd reads it. systemd checks that ExecStart can run,
# so the copy checked names the unpacked program; it finds the man page of
# Documentation= through MANPATH. No running systemd is needed.
unit=$root/usr/lib/systemd/user/vistrel-app.service
grep -qx 'ExecStart=/usr/bin/vistrel-app' "$unit" || fail "ExecStart in $unit"
mkdir -m 700 "$root/runtime" "$root/unit"
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" > "$root/unit/vistrel-app.service"
verify=$(XDG_RUNTIME_DIR=$root/runtime MANPATH=$root/usr/share/man \
    systemd-analyze verify --user "$root/unit/vistrel-app.service" 2>&1) || fail "systemd-analyze verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"

# Man pages: man's own checker has nothing to say, and vistrel(1) names every
# command word and option of the usage text.
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    zgrep -q "vistrel $version" "$page" || fail "$(basename "$page") does not show version $version"
done
manual=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/vistrel.1.gz" 2> /dev/null)
for word in $("$vistrel" help | sed -n 's/^  vistrel \([a-z-]*\).*/\1/p') \
    $("$vistrel" help | sed -n 's/^  \(--[a-z]*\).*/\1/p'); do
    grep -q -- "^       $word\b" <<< "$manual" || fail "vistrel(1) does not describe $word"
done

if [ "$failures" -gt 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "packages checked: vistrel and vistrel-app $version"
