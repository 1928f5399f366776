#!/usr/bin/env bash
# Builds the fuzz preset, replays every seed corpus in fuzz/corpus/, then
# fuzzes each target for SECONDS (default 60). What a run finds stays in
# build/fuzz/runs/ (the growing corpus and any crash); the tree's corpora are
# not touched. Exits non-zero when a build fails or any input crashes.
#   bash tools/fuzz.sh [SECONDS]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build/fuzz
cmake --preset fuzz > /dev/null && cmake --build --preset fuzz || exit 1

failed=()
for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    target=$build/fuzz/${name}_fuzzer
    runs=$build/runs/$name
    if [ ! -x "$target" ]; then
        echo "=== $name: no target $target"
        failed+=("$name (not built)")
        continue
    fi
    mkdir -p "$runs/corpus" "$runs/artifacts"
    echo "=== $name: replay $(ls "$corpus" | wc -l) seeds"
    if ! "$target" "$corpus"* > "$runs.replay.log" 2>&1; then
        tail -n 30 "$runs.replay.log"
        failed+=("$name (replay)")
        continue
    fi
    echo "=== $name: fuzz for ${seconds}s"
    # One input at a time on one core; a single input that runs past 10 s is a hang.
    if ! "$target" "$runs/corpus" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=16384 -print_final_stats=1 -artifact_prefix="$runs/artifacts/" > "$runs.log" 2>&1; then
        tail -n 40 "$runs.log"
        failed+=("$name (crash: $(ls "$runs/artifacts" | tr '\n' ' '))")
        continue
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE' "$runs.log" | tail -n 1
    grep -E '^stat::number_of_executed_units' "$runs.log"
done

if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}"
    exit 1
fi
echo "every fuzz target ran clean"
