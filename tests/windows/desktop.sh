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

. "$(dirname "$0")/../support/xvfb.sh"
start_xvfb
KORVA_WINE_DISPLAY=$display
export KORVA_WINE_DISPLAY
# A server of this prefix left from an earlier display would keep its desktop there.
"$wine_run" "$prefix" --stop >/dev/null 2>&1 || true
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp -f "$usb_library" "$prefix/drive_c/windows/system32/ftd2xx.dll"
status=0
"$@" || status=$?
exit "$status"
