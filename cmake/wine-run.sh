#!/bin/sh
# Runs a Windows program of the build under Wine: the test emulator of the
# windows preset.
#
#   wine-run.sh PREFIX PROGRAM [ARGS...]
#
# PREFIX is a private 32-bit Wine prefix inside the build folder, made on
# first use. One wineserver serves every run and lingers a minute after the
# last one, so a test run pays Wine's start once instead of per test.
#
# Programs get no display unless KORVA_WINE_DISPLAY names one: the window
# tests start their own virtual display and use a prefix of their own, whose
# Wine desktop lives on that display; `wine-run.sh PREFIX --stop` ends that
# prefix's server (and its desktop) before the display goes.
#
# Wine maps each /dev/ttyS* of the machine to a COM port by itself (a name
# hidden in its registry only moves the device to another number). A test
# must never reach real hardware, so every COM link of the prefix points at
# nothing once the server has started, and where a private mount namespace can be had, the
# server and the program run in one with /dev/null bound over every serial
# device.
#
# KORVA_WINE_COM_LINK=comN=/dev/pts/M links that one COM name to a pseudo-
# terminal (the Linux instrument simulator's) for this run, and back to
# nothing when the program has ended; only a pseudo-terminal is accepted.
# A test that uses it must not run beside other Wine runs (RUN_SERIAL): the
# link is one of the prefix, and each run puts every other link back.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${KORVA_WINE_DISPLAY:-}" ]; then
    export DISPLAY="$KORVA_WINE_DISPLAY"
fi

# The mount namespace: re-run this script inside one, once.
if [ -z "${KORVA_WINE_NS:-}" ] && command -v unshare >/dev/null 2>&1 \
    && unshare -m true 2>/dev/null; then
    export KORVA_WINE_NS=1
    exec unshare -m sh -c '
        for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
            [ -e "$dev" ] && mount --bind /dev/null "$dev"
        done
        exec "$0" "$@"' "$0" "$prefix" "$@"
fi

# Where a COM link is missing or dead, Wine falls back to /dev/ttyS<n-1>;
# so every COM name gets a link to an empty folder, which no program can
# open as a port. Wine's device manager rewrites the links of the devices
# it finds whenever the server starts.
hide_ports() {
    mkdir -p "$prefix/no-port"
    n=1
    while [ $n -le 256 ]; do
        ln -sfn "$prefix/no-port" "$prefix/dosdevices/com$n"
        n=$((n + 1))
    done
}

make_prefix() {
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 9>&-
    # Debian's Wine fonts, or dialog units come out too wide.
    if [ -d /usr/share/wine/fonts ]; then
        cp -f /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    wineserver -w 9>&-
    hide_ports
    touch "$prefix/.korva-ready"
}

if [ "${1:-}" = "--stop" ]; then
    [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
    exit 0
fi

link_name= link_target=
if [ -n "${KORVA_WINE_COM_LINK:-}" ]; then
    link_name=${KORVA_WINE_COM_LINK%%=*}
    link_target=${KORVA_WINE_COM_LINK#*=}
    case "$link_name" in com[1-9]|com[1-9][0-9]) ;; *) echo "wine-run.sh: not a COM name: $link_name" >&2; exit 2 ;; esac
    case "$link_target" in /dev/pts/*) ;; *) link_target=/ ;; esac
    case "${link_target#/dev/pts/}" in ''|*[!0-9]*) echo "wine-run.sh: not a pseudo-terminal: $KORVA_WINE_COM_LINK" >&2; exit 2 ;; esac
    [ -c "$link_target" ] || { echo "wine-run.sh: no such pseudo-terminal: $link_target" >&2; exit 2; }
fi

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    [ -f "$prefix/.korva-ready" ] || make_prefix
    # Starts the shared server unless one runs already, and lets Wine start
    # its services now: started by a test they would inherit the test's
    # output and hold it open for as long as the server lives.
    if wineserver -p60 >/dev/null 2>&1 9>&-; then
        wine wineboot >/dev/null 2>&1 </dev/null 9>&-
        # And the desktop's process, which the first program to use a
        # window would start (the fault matrix's main window); its start is
        # not awaited by anything else, so give it a moment.
        if [ -z "${KORVA_WINE_DISPLAY:-}" ]; then
            wine explorer.exe /desktop >/dev/null 2>&1 </dev/null 9>&- &
            sleep 2
        fi
    fi
    # Also when the server was started by someone else's Wine run.
    hidden=$(find "$prefix/dosdevices" -name 'com*' -lname "$prefix/no-port" | wc -l)
    [ "$hidden" -eq 256 ] || hide_ports
    [ -z "$link_name" ] || ln -sfn "$link_target" "$prefix/dosdevices/$link_name"
) 9>"$prefix.lock"

[ -n "$link_name" ] || exec wine "$@"
status=0
wine "$@" || status=$?
( flock 9; ln -sfn "$prefix/no-port" "$prefix/dosdevices/$link_name" ) 9>"$prefix.lock"
exit $status
