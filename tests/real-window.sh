#!/bin/sh
# Runs the program in a real X server with a window manager, as an operator would: the window must come up
# maximized with its title, icon and class, and closing it the way a window manager does must end the program
# by itself with exit status 0. Its folders are fixed, so it runs in a private mount namespace with a scratch
# file system over /home: the real /home/root is never touched.
# Usage: real-window.sh PATH-TO-zrk-server   (needs xvfb, xauth, openbox, xdotool, wmctrl, x11-utils)
set -eu
server=$(realpath "$1")
if [ -z "${ZRK_INSIDE_TEST_DISPLAY:-}" ]; then
    # One screen of a known size; -a picks a free display number.
    exec env ZRK_INSIDE_TEST_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$server"
fi

fail() {
    echo "FAIL: $*"
    [ -s "$log" ] && sed 's/^/  zrk-server: /' "$log"
    exit 1
}
log=$(mktemp)
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null; [ -n "${pid:-}" ] && kill $pid 2>/dev/null; rm -f "$log"' EXIT
# The window manager is up once it has announced itself on the root window.
for i in $(seq 100); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || fail "openbox did not start"

QT_QPA_PLATFORM=xcb unshare --user --map-root-user --mount sh -c \
    'mount -t tmpfs scratch /home && mkdir -p /home/root/Documents && exec "$0"' "$server" >"$log" 2>&1 &
pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^ZRK Server$' | head -n 1) \
    || fail "no window titled \"ZRK Server\" was mapped"

# The window manager settles the state after mapping; wait until it holds both directions.
maximized=
for i in $(seq 50); do
    state=$(xprop -id "$window" _NET_WM_STATE || true)
    case $state in *_NET_WM_STATE_MAXIMIZED_VERT*) case $state in *_NET_WM_STATE_MAXIMIZED_HORZ*)
        maximized=yes; break ;; esac ;; esac
    sleep 0.1
done
[ -n "$maximized" ] || fail "the window is not maximized: $state"
# Qt sets that state itself even without a window manager: only the size shows that one maximized the window.
# Maximized, it spans the screen's width and all its height but the title bar.
read -r screen_width screen_height <<SIZE
$(xdotool getdisplaygeometry)
SIZE
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" -eq "$screen_width" ] && [ "$HEIGHT" -ge $((screen_height - 64)) ] \
    || fail "the maximized window is ${WIDTH}x${HEIGHT} on a ${screen_width}x${screen_height} screen"

# A window without an icon gets openbox's own, a single 48 x 48 picture; ours comes in several sizes.
icons=$(xprop -id "$window" _NET_WM_ICON | grep -ac 'Icon (')
[ "$icons" -gt 1 ] || fail "the window shows no icon of its own"
# Task bars match a window to its launcher entry by its class.
xprop -id "$window" WM_CLASS | grep -q '"zrk-server"' || fail "unexpected window class: $(xprop -id "$window" WM_CLASS)"

# A window manager closes a window with WM_DELETE_WINDOW, which wmctrl asks it to send.
wmctrl -i -c "$window"
for i in $(seq 100); do
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
done
kill -0 $pid 2>/dev/null && fail "the program kept running after its window was closed"
status=0
wait $pid || status=$?
pid=
[ $status -eq 0 ] || fail "the program ended with exit status $status"
echo "PASS: the window came up maximized as \"ZRK Server\" and closing it ended the program with status 0"
