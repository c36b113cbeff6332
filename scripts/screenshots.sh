#!/bin/sh
# Takes the documentation's pictures of the windows under a virtual X
# display with a window manager (openbox), in German and English: two
# simulated instruments on pseudo-terminals (korva-sim), the real windows as
# the screen shows them, saved into docs/. Needs a build (default:
# build/default).
# Usage: sh scripts/screenshots.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build/default}
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR="$WORK/run" TEMP="$WORK/tmp"
mkdir -p "$XDG_RUNTIME_DIR" "$TEMP"
chmod 700 "$XDG_RUNTIME_DIR"
PIDS=""
cleanup() {
    for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# Hide the machine's own serial ports from the program: only the simulators.
for tty in /sys/class/tty/ttyS* /sys/class/tty/ttyUSB* /sys/class/tty/ttyACM*; do
    [ -e "$tty" ] || continue
    kind=$(basename "$tty")
    case $kind in
        ttyS*) com=$((${kind#ttyS} + 1)) ;;
        ttyUSB*) com=$((${kind#ttyUSB} + 33)) ;;
        ttyACM*) com=$((${kind#ttyACM} + 65)) ;;
    esac
    [ "$com" -le 99 ] || continue
    mkdir -p "$XDG_RUNTIME_DIR/korva/ports"
    ln -sf /dev/null "$XDG_RUNTIME_DIR/korva/ports/COM$com"
done

DISPLAY_NUMBER=${DISPLAY_NUMBER:-97}
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x900x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS="$PIDS $!"
sleep 1
export DISPLAY=":$DISPLAY_NUMBER"
openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
PIDS="$PIDS $!"
sleep 1
# Fresh instruments for each language: the cancelled update leaves the
# first one in its debug monitor. The first one sends at 2 MBaud, so its
# update reaches the middle of the transfer in seconds for the progress
# window's picture.
for language in de en; do
    "$BUILD/sim/korva-sim" --com 10 --serial 012345678 --baud 2000000 >"$WORK/sim1-$language.log" 2>&1 &
    sim1=$!
    "$BUILD/sim/korva-sim" --com 11 --serial 001234567 --version 05.000-02.000 >"$WORK/sim2-$language.log" 2>&1 &
    sim2=$!
    PIDS="$PIDS $sim1 $sim2"
    sleep 1
    QT_QPA_PLATFORM=xcb "$BUILD/app/korva-ui-shots" docs 2 "$language"
    kill "$sim1" "$sim2" 2>/dev/null || true
    wait "$sim1" "$sim2" 2>/dev/null || true
done
