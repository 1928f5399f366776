# Sourced by the benchmark scripts. Makes the scratch folder $work, removed
# on exit together with the app and every process in $pids.
work=$(mktemp -d)
app_pid=
pids=()
cleanup() {
    for pid in $app_pid "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# start_app COMMAND...: runs the app on a free port (its output in $work),
# waits until it listens, and sets app_pid and port.
start_app() {
    "$@" --port 0 > "$work/app.out" 2> "$work/app.err" &
    app_pid=$!
    until grep -q listening "$work/app.out" 2> /dev/null; do
        if ! kill -0 "$app_pid" 2> /dev/null; then
            echo "the app did not start:" >&2
            cat "$work/app.err" >&2
            exit 1
        fi
        sleep 0.05
    done
    port=$(sed -n 's#.*127\.0\.0\.1:\([0-9]*\)/api.*#\1#p' "$work/app.out")
}
