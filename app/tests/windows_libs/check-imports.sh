#!/usr/bin/env bash
# A Windows program that imports Media Foundation's libraries does not start
# at all on the Windows editions without them (the N editions): the MP4
# writer loads them at run time instead. Fails when any of PROGRAM... imports
# mfplat.dll, mfreadwrite.dll or another Media Foundation library.
set -euo pipefail
status=0
for program in "$@"; do
    imports=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$imports" ] || { echo "$program: no imports found (not a Windows program?)"; status=1; continue; }
    if grep -i -E '^(mf|mfplat|mfreadwrite|mfcore|evr)\.dll$' <<< "$imports"; then
        echo "$program imports Media Foundation (above); it would not start on a Windows N edition"
        status=1
    fi
done
exit $status
