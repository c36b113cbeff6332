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
# Wine maps each /dev/ttyS* of the machine to a COM port by itself. A test
# must never reach real hardware, so every COM name is mapped to nothing in
# the prefix's registry (Wine's documented way to hide a port), the com*
# links are removed before each run, and where a private mount namespace can
# be had, the server and the program run in one with /dev/null bound over
# every serial device.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset DISPLAY WAYLAND_DISPLAY

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

hide_ports() {
    rm -f "$prefix"/dosdevices/com[0-9]*
}

make_prefix() {
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1
    # Debian's Wine fonts, or dialog units come out too wide.
    if [ -d /usr/share/wine/fonts ]; then
        cp -f /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    reg="$prefix/ports.reg"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        n=1
        while [ $n -le 256 ]; do
            printf '"COM%d"=""\r\n' $n
            n=$((n + 1))
        done
    } >"$reg"
    wine regedit /S "$reg" >/dev/null 2>&1
    wineserver -w
    hide_ports
    touch "$prefix/.korva-ready"
}

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    [ -f "$prefix/.korva-ready" ] || make_prefix
    hide_ports
    # Starts the shared server unless one runs already.
    wineserver -p60 >/dev/null 2>&1 || true
) 9>"$prefix.lock"

exec wine "$@"
