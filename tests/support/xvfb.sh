# Sourced by the desktop scripts: start_xvfb starts Xvfb on a display it
# picks itself (so several runs can go at once) and sets `xvfb` (its
# process) and `display` (":N"). Needs `work`, the script's private folder.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    tries=0
    until [ -s "$work/display" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$xvfb" 2>/dev/null; then
            echo "$0: Xvfb did not start" >&2
            cat "$work/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    display=":$(head -n 1 "$work/display")"
}
