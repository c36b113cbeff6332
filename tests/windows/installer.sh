#!/bin/sh
# The installer under Wine: a silent install (/S) into the prefix, the
# installed program started from Program Files and its main window checked
# (window_check), then a silent uninstall that leaves nothing behind. The
# portable zip carries the same files. Runs on the window tests' display
# (tests/windows/desktop.sh).
# Usage: installer.sh WINE_RUN PREFIX SETUP_EXE PORTABLE_ZIP WINDOW_CHECK_EXE
set -eu
wine_run=$1
prefix=$2
setup=$3
zip=$4
check=$5
dir="$prefix/drive_c/Program Files/KORVA/Instrument Upgrader"
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/KORVA"
fail() {
    echo "FAILED: $*"
    exit 1
}

for entry in korva-upgrader.exe README-Windows.txt licences/mingw-w64-runtime.txt licences/gcc-runtime.txt; do
    unzip -l "$zip" | grep -q " $entry\$" || fail "the portable zip lacks $entry"
done
echo "ok: the portable zip carries the program, the README and the licences"

# An earlier run's installation goes first.
[ ! -x "$dir/uninstall.exe" ] || "$wine_run" "$prefix" "$dir/uninstall.exe" /S || true
"$wine_run" "$prefix" "$setup" /S || fail "the installer ends with an error"
for entry in korva-upgrader.exe uninstall.exe README-Windows.txt licences/mingw-w64-runtime.txt licences/gcc-runtime.txt; do
    [ -f "$dir/$entry" ] || fail "the installation lacks $entry"
done
ls "$menu"/*.lnk >/dev/null 2>&1 || fail "no Start-menu entry"
echo "ok: installed into Program Files with a Start-menu entry"

"$wine_run" "$prefix" "$check" 'C:\Program Files\KORVA\Instrument Upgrader\korva-upgrader.exe' \
    || fail "the installed program"

# The uninstaller copies itself away and returns at once; its copy removes the folder.
"$wine_run" "$prefix" "$dir/uninstall.exe" /S || fail "the uninstaller ends with an error"
tries=0
while [ -e "$dir" ] || [ -e "$menu" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 120 ] || fail "the uninstaller leaves $(ls -d "$dir" "$menu" 2>/dev/null | tr '\n' ' ')"
    sleep 0.5
done
echo "ok: the uninstaller removes the program and its Start-menu entry"
