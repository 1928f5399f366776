#!/usr/bin/env bash
# Runs a command inside a Wayland session of its own, for the Wayland tests:
# sway on its headless backend with the pixman renderer (no GPU, no input
# devices), and with --portal also a D-Bus session bus, PipeWire, WirePlumber
# and xdg-desktop-portal with its wlroots backend (started by the bus).
#
#   headless-session.sh [--portal] [--decline-screencast] [--background BG]
#                       [--resolution WxH] [--outputs N] [--config LINE]...
#                       FOLDER COMMAND [ARGS...]
#
# FOLDER, made and removed by the caller, holds the session: run/ (its
# XDG_RUNTIME_DIR), home/, config/ and the logs. BG is what sway's
# "output * bg" takes, e.g. "#3366cc solid_color" or "/path/to.png stretch".
# With --decline-screencast the portal's screen chooser declines every
# screen cast, as a user who cancels the dialog would. --outputs gives the
# session N outputs (HEADLESS-1 … HEADLESS-N), and each --config LINE is
# added to sway's configuration (e.g. "output HEADLESS-2 pos 640 0").
#
# COMMAND runs in the session's environment (WAYLAND_DISPLAY, XDG_RUNTIME_DIR,
# XDG_CONFIG_HOME, XDG_CURRENT_DESKTOP=sway, DBUS_SESSION_BUS_ADDRESS with
# --portal) with this script's standard output. When a part cannot start,
# the only line on standard output is "skip: REASON" and the exit status 77.
# SIGTERM, the end of COMMAND or the end of the caller ends the session.
#
# Sway refuses to run as root: run as root, the script runs the session as
# the unprivileged system user vistrel-wayland, which it creates when missing.
set -uo pipefail

# A process group of our own, so that everything the session starts
# (including what its bus starts on demand) ends with it.
if [ "${VISTREL_SESSION_LEADER:-}" != "$$" ]; then
    VISTREL_SESSION_LEADER=$$ exec setsid "$0" "$@"
fi
caller=$PPID
# useradd lives in sbin, which not every root's PATH holds.
PATH=$PATH:/usr/sbin:/sbin

portal=0
decline=0
background="#3366cc solid_color"
resolution=1280x720
outputs=1
config_lines=()
while [ $# -gt 0 ]; do
    case $1 in
        --portal) portal=1 ;;
        --decline-screencast) decline=1 ;;
        --background) background=$2; shift ;;
        --resolution) resolution=$2; shift ;;
        --outputs) outputs=$2; shift ;;
        --config) config_lines+=("$2"); shift ;;
        *) break ;;
    esac
    shift
done
folder=$1
shift

skip() {
    echo "skip: $*"
    exit 77
}

needed=(sway setpriv)
if [ $portal = 1 ]; then
    needed+=(dbus-daemon pipewire wireplumber grim /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr)
fi
for program in "${needed[@]}"; do
    command -v "$program" > /dev/null || skip "$program is not installed (see tools/packages.txt)"
done

user=vistrel-wayland
as_user=()
if [ "$(id -u)" = 0 ]; then
    # Made once, under a lock, so that tests running side by side agree.
    exec 9> /tmp/.vistrel-wayland-user.lock
    flock 9
    if ! getent passwd "$user" > /dev/null; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" \
            > "$folder/useradd.log" 2>&1 || skip "cannot create the user $user: $(tail -1 "$folder/useradd.log")"
    fi
    flock -u 9
    exec 9>&-
    uid=$(id -u "$user")
    gid=$(id -g "$user")
    as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
    chmod 755 "$folder"
else
    uid=$(id -u)
fi

run=$folder/run
mkdir -p "$run" "$folder/home" "$folder/config" "$folder/tmp"
chmod 700 "$run"
chmod 1777 "$folder/tmp"
[ "$(id -u)" = 0 ] && chown "$uid:$gid" "$run" "$folder/home" "$folder/config"

environment=(PATH=/usr/local/bin:/usr/bin:/bin HOME="$folder/home" XDG_RUNTIME_DIR="$run"
    XDG_CONFIG_HOME="$folder/config" XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland LANG=C.UTF-8
    TMPDIR="$folder/tmp")
in_session() {  # [NAME=VALUE...] COMMAND...: as the session's user, with the session's environment only
    "${as_user[@]}" env -i "${environment[@]}" "$@"
}

pids=()
finish() {
    trap '' TERM INT
    [ -n "${command_pid:-}" ] && kill -TERM "$command_pid" 2> /dev/null
    for _ in $(seq 30); do
        [ -n "${command_pid:-}" ] && kill -0 "$command_pid" 2> /dev/null || break
        sleep 0.1
    done
    kill -TERM -- -$$ 2> /dev/null
    sleep 0.2
    kill -KILL "${pids[@]}" 2> /dev/null
    wait 2> /dev/null
}
trap 'finish; exit 143' TERM INT

wait_for() {  # PATH SECONDS: true once PATH exists
    for _ in $(seq $(($2 * 20))); do
        [ -e "$1" ] && return 0
        sleep 0.05
    done
    return 1
}

cat > "$folder/sway.config" << CONFIG
xwayland disable
output * resolution $resolution bg $background
CONFIG
for line in "${config_lines[@]}"; do echo "$line" >> "$folder/sway.config"; done
chmod 644 "$folder/sway.config"
in_session WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=$outputs \
    sway --config "$folder/sway.config" > "$folder/sway.log" 2>&1 &
pids+=($!)
socket=
for _ in $(seq 200); do
    socket=$(cd "$run" && ls -1 wayland-? 2> /dev/null | head -1)
    [ -n "$socket" ] && break
    kill -0 "${pids[0]}" 2> /dev/null || break
    sleep 0.05
done
[ -n "$socket" ] || { finish; skip "sway did not start: $(tail -1 "$folder/sway.log")"; }
environment+=(WAYLAND_DISPLAY="$socket")

if [ $portal = 1 ]; then
    if [ -e /tmp/out.png ] && [ "$(stat -c %u /tmp/out.png)" != "$uid" ]; then
        finish
        skip "xdg-desktop-portal-wlr saves screenshots as /tmp/out.png, which belongs to another user here"
    fi
    mkdir -p "$folder/config/xdg-desktop-portal-wlr"
    if [ $decline = 1 ]; then
        chooser="chooser_type=simple
chooser_cmd=true"
    else
        chooser="chooser_type=none
output_name=HEADLESS-1"
    fi
    printf '[screencast]\n%s\nmax_fps=30\n' "$chooser" > "$folder/config/xdg-desktop-portal-wlr/config"
    [ "$(id -u)" = 0 ] && chown -R "$uid:$gid" "$folder/config"

    environment+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$run/bus")
    in_session dbus-daemon --session --nofork --nopidfile --address="unix:path=$run/bus" > "$folder/dbus.log" 2>&1 &
    pids+=($!)
    wait_for "$run/bus" 10 || { finish; skip "the D-Bus session bus did not start: $(tail -1 "$folder/dbus.log")"; }
    in_session pipewire > "$folder/pipewire.log" 2>&1 &
    pids+=($!)
    wait_for "$run/pipewire-0" 10 || { finish; skip "PipeWire did not start: $(tail -1 "$folder/pipewire.log")"; }
    in_session wireplumber > "$folder/wireplumber.log" 2>&1 &
    pids+=($!)
fi

in_session "$@" 2> "$folder/command.log" &
command_pid=$!
# Ends with the command, or with the caller (a test that died).
while kill -0 "$command_pid" 2> /dev/null && kill -0 "$caller" 2> /dev/null; do
    sleep 0.2
done
wait "$command_pid"
status=$?
finish
exit $status
