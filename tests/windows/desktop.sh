#!/bin/sh
# Runs a command with a virtual X display for Windows programs under Wine:
# KORVA_WINE_DISPLAY tells cmake/wine-run.sh to hand it on. Wine draws the
# windows' frames itself (no window manager), as Windows would. The prefix
# PREFIX is the window tests' own: its Wine desktop lives on this display,
# so its server is ended before the display goes. Its system folder holds
# USB_LIBRARY (the simulated D2XX library) as FTDI's ftd2xx.dll, where the
# program looks for the driver's library.
# Usage: sh tests/windows/desktop.sh WINE_RUN PREFIX USB_LIBRARY COMMAND [ARGS...]
set -eu
wine_run=$1
prefix=$2
usb_library=$3
shift 3
work=$(mktemp -d)
xvfb=""
cleanup() {
    "$wine_run" "$prefix" --stop >/dev/null 2>&1 || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
tries=0
until [ -s "$work/display" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
        echo "desktop.sh: Xvfb did not start" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    sleep 0.1
done
KORVA_WINE_DISPLAY=":$(head -n 1 "$work/display")"
export KORVA_WINE_DISPLAY
# A server of this prefix left from an earlier display would keep its desktop there.
"$wine_run" "$prefix" --stop >/dev/null 2>&1 || true
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp -f "$usb_library" "$prefix/drive_c/windows/system32/ftd2xx.dll"
status=0
"$@" || status=$?
exit "$status"
