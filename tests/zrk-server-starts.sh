#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Starts the real program headless and checks that it comes up, makes its sent-keys folder and keeps running
# until it is told to close; that a second start meanwhile leaves it running and ends at once with status 0; that
# one killed outright does not stop the next start; and that a live lock holder that does not answer makes a start
# fail with a reason. Its folders are fixed, so it runs in a private mount namespace with a scratch file system over
# /home: the real /home/root is never touched. Its runtime folder, where the lock lives, is on that scratch file
# system too, so no copy running outside this test, nor another test, holds the lock.
server=$1
exec "$(dirname "$0")/in-private-mounts.sh" sh -s "$server" <<'SCRIPT'
set -e
server=$1
mount -t tmpfs scratch /home
mkdir -p /home/root/Documents
# Qt takes a runtime folder only when it is private to the user.
mkdir -m 0700 /home/run
export XDG_RUNTIME_DIR=/home/run XDG_CACHE_HOME=/home/cache QT_QPA_PLATFORM=offscreen
lock=/home/run/zrk-server.lock
pids=
trap 'for pid in $pids; do kill -9 $pid 2>/dev/null || true; done' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}
# Polls a condition for at most 30 seconds: a slow machine or a sanitizer build starts the program slowly.
within_30s() {
    for i in $(seq 300); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}
start_in_background() {
    "$server" 2>>/home/run/server.log &
    started=$!
    pids="$pids $started"
}
lock_holder() {
    head -n 1 "$lock" 2>/dev/null
}

start_in_background
first=$started
within_30s '[ -d /home/root/Documents/.sentKeys ]' || fail "no sent-keys folder"
sleep 1
kill -0 $first || fail "the program ended by itself"

# The key store is the first's: a second start hands over to it and ends.
status=0
timeout 30 "$server" 2>/home/run/second.log || status=$?
[ $status -eq 0 ] || fail "a second start ended with status $status: $(cat /home/run/second.log)"
sleep 1
kill -0 $first || fail "the first program ended when a second was started"
[ "$(lock_holder)" = "$first" ] || fail "the lock is no longer the first program's"

# Killed outright, it leaves its lock and socket behind; the next start takes over and keeps running.
kill -9 $first
wait $first 2>/dev/null || true
start_in_background
next=$started
within_30s '[ "$(lock_holder)" = "$next" ]' \
    || fail "a start after a killed one did not take the lock: $(cat /home/run/server.log)"
sleep 1
kill -0 $next || fail "a start after a killed one ended by itself: $(cat /home/run/server.log)"
status=0
timeout 30 "$server" 2>/home/run/second.log || status=$?
[ $status -eq 0 ] || fail "a start beside the new holder ended with status $status: $(cat /home/run/second.log)"
kill -TERM $next
wait $next 2>/dev/null || true

# A live process named like the program holds the lock but never listens: a start says so and fails. A lock whose
# process id belongs to a program of another name counts as left over, hence the copy of sleep named zrk-server. The
# lock holds the process id, the program's name and the host name (none: this host).
mkdir /home/run/silent
cp "$(command -v sleep)" /home/run/silent/zrk-server
/home/run/silent/zrk-server 60 &
silent=$!
pids="$pids $silent"
rm -f "$lock"
printf '%s\nzrk-server\n\n' $silent >"$lock"
status=0
timeout 30 "$server" 2>/home/run/second.log || status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "a start beside a silent lock holder ended with status $status"
grep -q "process $silent " /home/run/second.log || fail "no reason naming process $silent: $(cat /home/run/second.log)"
kill -0 $silent || fail "the silent lock holder was stopped"
kill $silent
wait $silent 2>/dev/null || true
# A runtime folder that anyone may write to is passed over for a folder of the user's own (in the default cache
# folder), and the program says which.
mkdir -m 0777 /home/open
env -u XDG_CACHE_HOME HOME=/home/root XDG_RUNTIME_DIR=/home/open "$server" 2>/home/run/open.log &
open=$!
pids="$pids $open"
within_30s '[ -S /home/root/.cache/zrk-server/zrk-server.socket ]' \
    || fail "no socket in the own folder beside an open runtime folder: $(cat /home/run/open.log)"
grep -q '"/home/root/.cache/zrk-server"' /home/run/open.log || fail "no message naming the folder used"
kill -TERM $open
wait $open 2>/dev/null || true
echo "PASS: the program started, kept running until closed and held the key store against other starts"
SCRIPT
