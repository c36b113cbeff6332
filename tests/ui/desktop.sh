#!/bin/sh
# Runs a command on a virtual X display with a window manager (openbox), as
# on a technician's desktop: windows are framed, stacked and focused by the
# manager, which the offscreen platform never does. Xvfb picks a free
# display itself, so several runs can go at once.
# Usage: sh tests/ui/desktop.sh COMMAND [ARGS...]
set -eu
work=$(mktemp -d)
xvfb=""
wm=""
cleanup() {
    [ -z "$wm" ] || kill "$wm" 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

. "$(dirname "$0")/../support/xvfb.sh"
start_xvfb
DISPLAY=$display
export DISPLAY

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$wm" 2>/dev/null; then
        echo "desktop.sh: the window manager did not start" >&2
        cat "$work/openbox.log" >&2
        exit 1
    fi
    sleep 0.1
done

# The X client libraries keep caches until the process ends; the leak check
# would report them, not the program.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"
status=0
QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
