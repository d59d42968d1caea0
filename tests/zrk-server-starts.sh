#!/bin/sh
# Starts the real program headless and checks that it comes up, makes its sent-keys folder and keeps running
# until it is told to close. Its folders are fixed, so it runs in a private mount namespace with a scratch
# file system over /home: the real /home/root is never touched.
server=$1
if ! unshare --user --map-root-user --mount true 2>/dev/null; then
    echo "SKIP: no private mount namespace here"
    exit 77
fi
exec unshare --user --map-root-user --mount sh -s "$server" <<'SCRIPT'
set -e
server=$1
mount -t tmpfs scratch /home
mkdir -p /home/root/Documents
QT_QPA_PLATFORM=offscreen "$server" &
pid=$!
for i in $(seq 50); do
    [ -d /home/root/Documents/.sentKeys ] && break
    sleep 0.1
done
[ -d /home/root/Documents/.sentKeys ] || { echo "FAIL: no sent-keys folder"; kill $pid; exit 1; }
sleep 1
kill -0 $pid || { echo "FAIL: the program ended by itself"; exit 1; }
kill -TERM $pid
wait $pid || true
echo "PASS: the program started and kept running until closed"
SCRIPT
