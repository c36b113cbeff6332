#!/bin/sh
# Runs a Windows program of the build under Wine against a simulated
# instrument on a serial line: the Linux instrument simulator on a pseudo-
# terminal, which wine-run.sh links into the Wine prefix as COM<N> for this
# run only.
#
#   wine-serial-run.sh SIMULATOR PREFIX N PROGRAM [ARGS...]
#
# The simulator runs without line timing (--fast) and registers its alias in
# a private folder of its own; it is stopped when the program has ended.
set -eu
sim=$1 prefix=$2 com=$3
shift 3
dir=$(mktemp -d)
chmod 700 "$dir"
XDG_RUNTIME_DIR=$dir "$sim" --fast --com 90 >"$dir/sim.out" 2>&1 &
simpid=$!
trap 'kill $simpid 2>/dev/null || true; wait $simpid 2>/dev/null || true; rm -rf "$dir"' EXIT
pty=
for _ in $(seq 1 100); do
    pty=$(awk '$2 == "->" { print $3; exit }' "$dir/sim.out")
    [ -n "$pty" ] && break
    sleep 0.1
done
if [ -z "$pty" ]; then
    echo "wine-serial-run.sh: the simulator did not start:" >&2
    cat "$dir/sim.out" >&2
    exit 1
fi
status=0
KORVA_WINE_COM_LINK=com$com=$pty "$(dirname "$0")/wine-run.sh" "$prefix" "$@" || status=$?
exit $status
