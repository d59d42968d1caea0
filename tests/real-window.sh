#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs the program in a real X server with a window manager, as an operator would: the window must come up
# maximized with its title, icon and class; a second start while it is minimized or covered must bring it back to
# the front and end with exit status 0; and closing it the way a window manager does must end the program by itself
# with exit status 0. Its folders are fixed, so every start runs in a private mount namespace with a scratch file
# system over /home: the real /home/root is never touched. They share a runtime folder of their own, where the lock
# lives, so that no copy running outside this test holds it.
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
second_log=$(mktemp)
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill $wm ${cover:-} 2>/dev/null; [ -n "${pid:-}" ] && kill $pid 2>/dev/null
      rm -rf "$log" "$second_log" "$XDG_RUNTIME_DIR"' EXIT
# The window manager is up once it has announced itself on the root window.
for i in $(seq 100); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done
wmctrl -m >/dev/null 2>&1 || fail "openbox did not start"

# Starts the program with a scratch /home, under the command given first if any (such as a timeout).
start_in_scratch_home() {
    QT_QPA_PLATFORM=xcb "$@" unshare --user --map-root-user --mount sh -c \
        'mount -t tmpfs scratch /home && mkdir -p /home/root/Documents && XDG_CACHE_HOME=/home/cache exec "$0"' "$server"
}
start_in_scratch_home >"$log" 2>&1 &
pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^ZRK Server$' | head -n 1) \
    || fail "no window titled \"ZRK Server\" was mapped"

# The window manager settles the state after mapping or a change; these wait until it holds.
is_maximized() {
    state=$(xprop -id "$window" _NET_WM_STATE || true)
    case $state in *_NET_WM_STATE_MAXIMIZED_VERT*) case $state in *_NET_WM_STATE_MAXIMIZED_HORZ*)
        return 0 ;; esac ;; esac
    return 1
}
is_minimized() {
    state=$(xprop -id "$window" _NET_WM_STATE || true)
    case $state in *_NET_WM_STATE_HIDDEN*) return 0 ;; esac
    return 1
}
is_active() {
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]
}
# The window manager lists its windows from bottom to top.
is_on_top() {
    [ "$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*[#,] //')" = "$(printf '0x%x' "$1")" ]
}
is_shown_in_front() {
    ! is_minimized && is_maximized && xwininfo -id "$window" | grep -q 'Map State: IsViewable' \
        && is_active "$window" && is_on_top "$window"
}
front_state() {
    echo "$state, active window $(xdotool getactivewindow 2>/dev/null || echo none)," \
        "$(xwininfo -id "$window" | grep 'Map State'), $(xprop -root _NET_CLIENT_LIST_STACKING)"
}
within_10s() {
    for i in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
within_10s is_maximized || fail "the window is not maximized: $state"
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

# A second start finds the first running: it brings the window back to the front, maximized, and ends. The window
# may be minimized, or just covered by another.
start_second() {
    status=0
    start_in_scratch_home timeout 30 >"$second_log" 2>&1 || status=$?
    [ $status -eq 0 ] || fail "a second start ended with status $status: $(cat "$second_log")"
    within_10s is_shown_in_front || fail "a second start did not bring the window back to the front: $(front_state)"
    kill -0 $pid 2>/dev/null || fail "the program ended when a second was started"
}
xdotool windowminimize "$window"
within_10s is_minimized || fail "the window did not minimize: $state"
start_second
xmessage -name zrk-cover "A window over the program's" &
cover=$!
cover_window=$(timeout 20 xdotool search --sync --onlyvisible --classname '^zrk-cover$' | head -n 1) \
    || fail "no covering window was mapped"
within_10s is_active "$cover_window" || fail "the covering window did not become active: $(front_state)"
within_10s is_on_top "$cover_window" || fail "the covering window is not on top: $(front_state)"
start_second

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
echo "PASS: the window came up maximized as \"ZRK Server\", a second start brought it back to the front and closing it"\
    "ended the program with status 0"
