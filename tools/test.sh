#!/usr/bin/env bash
# Builds every target and runs every test:
#   release  vistrel and vistrel-app with g++; unit, end-to-end and app tests
#   debug    the same client under AddressSanitizer and UndefinedBehaviorSanitizer
#   asan     vistrel-app and its tests under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan     vistrel-app and its tests under ThreadSanitizer
#   clang    the client built with clang
#   windows  vistrel.exe cross-built with mingw-w64; its unit tests and the whole
#            end-to-end suite run under wine
# Exits non-zero when any build or test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
failed=()
step() {  # NAME COMMAND...
    local name=$1
    shift
    echo "=== $name"
    "$@" || failed+=("$name")
}

# wine: a prefix of our own, made once, and one wine server kept running so
# that each run of vistrel.exe starts quickly.
export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
windows_exe=$PWD/build/windows/src/vistrel.exe

for preset in windows release debug clang asan tsan; do
    extra=()
    if [ "$preset" = release ]; then extra=(-DVISTREL_WINDOWS_EXE="$windows_exe"); fi
    step "configure $preset" cmake --preset "$preset" "${extra[@]}" > /dev/null
    step "build $preset" cmake --build --preset "$preset"
done

step "start wine" bash -c "wineboot --init > /dev/null 2>&1; wineserver -p; wine '$windows_exe' help > /dev/null"

for preset in release debug clang windows asan tsan; do
    step "test $preset" ctest --preset "$preset"
done
wineserver -k 2> /dev/null || true

if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
echo "all builds and tests passed"
