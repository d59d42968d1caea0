#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs a test program beside Debian's real obexd, started here on a private session bus of its own, with a runtime
# folder and a home of its own; obexd takes its Bluetooth transport only where BlueZ answers, so python3-dbusmock's
# BlueZ runs on a private system bus beside it. Nothing of the machine's own Bluetooth or desktop is reached. The bus's address goes
# to the program in ZRK_REAL_OBEXD_BUS. Skipped (77) where bluez-obexd is not installed.
# Usage: with-real-obexd.sh PROGRAM [ARGUMENTS...]
set -e
obexd=/usr/libexec/bluetooth/obexd
if [ ! -x "$obexd" ]; then
    echo "SKIP: $obexd is not installed (Debian package bluez-obexd)"
    exit 77
fi
dir=$(mktemp -d)
pids=
trap 'for pid in $pids; do kill $pid 2>/dev/null || true; done; rm -rf "$dir"' EXIT
mkdir -m 0700 "$dir/run" "$dir/home"
# No service folder: nothing is started by D-Bus behind the test's back. The address given below replaces <listen>.
for bus in system session; do
    cat > "$dir/$bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>$bus</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
    # The address is printed once the bus listens.
    dbus-daemon --config-file="$dir/$bus.conf" --address="unix:path=$dir/$bus" --print-address=3 --nofork \
        3>"$dir/$bus.address" 2>>"$dir/bus.log" &
    pids="$pids $!"
    for i in $(seq 300); do
        [ -s "$dir/$bus.address" ] && break
        sleep 0.1
    done
    [ -s "$dir/$bus.address" ] || { echo "FAIL: the $bus bus did not start"; cat "$dir/bus.log"; exit 1; }
done
address=$(head -n1 "$dir/session.address")
export DBUS_SYSTEM_BUS_ADDRESS="$(head -n1 "$dir/system.address")"
# Debian's dbusmock belongs to Debian's own interpreter, which may not come first on PATH.
/usr/bin/python3 -m dbusmock --template bluez5 --system 2>>"$dir/bus.log" >/dev/null &
pids="$pids $!"
# dbusmock owns its name before its template is loaded: only an answer tells it is ready.
for i in $(seq 300); do
    dbus-send --system --print-reply --dest=org.bluez / org.freedesktop.DBus.ObjectManager.GetManagedObjects \
        >/dev/null 2>&1 && break
    sleep 0.1
done
DBUS_SESSION_BUS_ADDRESS=$address XDG_RUNTIME_DIR=$dir/run HOME=$dir/home "$obexd" -n -d 2>"$dir/obexd.log" &
pids="$pids $!"
# Its name on the bus tells that it is ready.
for i in $(seq 300); do
    DBUS_SESSION_BUS_ADDRESS=$address dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.bluez.obex 2>/dev/null | grep -q 'boolean true' && break
    sleep 0.1
done
mkdir -m 0700 "$dir/test-run"
status=0
ZRK_REAL_OBEXD_BUS=$address XDG_RUNTIME_DIR=$dir/test-run "$@" || status=$?
if [ $status -ne 0 ]; then
    echo "obexd's log:"
    cat "$dir/obexd.log"
fi
exit $status
