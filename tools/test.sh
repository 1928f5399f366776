#!/usr/bin/env bash
# Builds every target and runs every test:
#   release  vistrel, vistrel-mcp and vistrel-app with g++; unit, end-to-end and
#            app tests, and vistrel-mcp's tests on Node.js (SDK client, Inspector)
#   asan     everything and its tests (but the Wayland and Node.js ones) under
#            AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan     vistrel-app and its tests under ThreadSanitizer
#   clang    the client built with clang
#   windows  vistrel.exe and vistrel-mcp.exe cross-built with mingw-w64; their
#            unit tests and end-to-end suites run under wine
#   fuzz     the libFuzzer targets in fuzz/, briefly (tools/fuzz.sh)
# Exits non-zero when any build or test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/install-packages.sh build test || exit 1
failed=()
step() {  # NAME COMMAND...
    local name=$1
    shift
    echo "=== $name ($(date +%T))"
    "$@" || failed+=("$name")
}

# wine: a prefix of our own, made once, and one wine server kept running so
# that each run of vistrel.exe starts quickly.
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
windows_exe=$PWD/build/windows/src/vistrel.exe
windows_mcp_exe=$PWD/build/windows/src/mcp/vistrel-mcp.exe
windows_app_exe=$PWD/build/windows/app/tests/vistrel-app-with-fake-cameras.exe

# vistrel-mcp's end-to-end tests run on Node.js with npm packages pinned by
# tests/mcp/node/package-lock.json. The machine's Node.js is used when there
# is one; else Debian's.
if ! command -v node > /dev/null || ! command -v npm > /dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    step "install Node.js" bash -c "$sudo apt-get install -y nodejs npm > /dev/null"
fi
step "npm ci" bash -c "cd tests/mcp/node && npm ci --no-audit --no-fund"

# The Windows build's libjpeg-turbo, libvpx and libwebm, built from Debian's
# sources once and kept outside the clone (tools/mingw-libs.sh).
step "mingw libraries" bash -c "bash tools/mingw-libs.sh > /dev/null"

for preset in windows release clang asan tsan; do
    # A build folder that tools/setup.sh configured has its tests off.
    extra=(-DVISTREL_BUILD_TESTS=ON)
    if [ "$preset" = release ]; then
        extra+=(-DVISTREL_WINDOWS_EXE="$windows_exe" -DVISTREL_WINDOWS_MCP_EXE="$windows_mcp_exe"
                -DVISTREL_WINDOWS_APP_EXE="$windows_app_exe")
    fi
    step "configure $preset" cmake --preset "$preset" "${extra[@]}" > /dev/null
    step "build $preset" cmake --build --preset "$preset"
done

# The persistent server must be the first one: "wineserver -p" fails while
# another server runs (as one does for a few seconds after any wine program,
# the test discovery of the windows build among them), and that one quits
# when idle, so that runs in the middle of the tests would start it again
# slowly or find it going away.
step "start wine" bash -c "wineserver -k 2> /dev/null; wineserver -w; wineserver -p && { wineboot --init > /dev/null 2>&1; wine '$windows_exe' help > /dev/null; }"

for preset in release clang windows asan tsan; do
    step "test $preset" ctest --preset "$preset"
done
# The packages, checked as users get them: the Debian packages from the
# release build, the zip from the windows build.
step "debian packages" bash packaging/tests/check-debs.sh
step "windows zip" bash packaging/tests/check-zip.sh
step "windows installer" bash packaging/tests/check-msi.sh
wineserver -k 2> /dev/null || true
# The fuzz targets (clang, ASan+UBSan, libFuzzer): every seed corpus replayed,
# then each target fuzzed for 8 s, under three minutes in all.
step "fuzz" bash tools/fuzz.sh 8

if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
echo "all builds and tests passed"
