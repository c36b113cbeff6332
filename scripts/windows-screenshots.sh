#!/bin/sh
# Takes the pictures of the Windows program's windows under Wine, in German
# and English, into docs/windows/: korva-win-shots drives the real window
# on two simulated USB instruments and saves every window from the screen
# (Wine's own frames and fonts). Needs the Windows build (default:
# build/windows).
# Usage: sh scripts/windows-screenshots.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build/windows}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p docs/windows
for language in de en; do
    sh tests/windows/desktop.sh "$root/cmake/wine-run.sh" "$build/wine-gui" \
        "$build/sim/d2xx/korva_usb_sim.dll" \
        "$root/cmake/wine-run.sh" "$build/wine-gui" "$build/winui/korva-win-shots.exe" "Z:$work" "$language"
done
for picture in "$work"/*.bmp; do
    name=$(basename "$picture" .bmp)
    # Metadata off: the pictures change only when the windows do.
    convert "$picture" -strip -define png:exclude-chunks=date,time "docs/windows/$name.png"
done
ls docs/windows
