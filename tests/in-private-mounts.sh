#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# in-private-mounts.sh PROGRAM [ARGUMENT...]: runs the program in a private user and mount namespace, where it may
# mount scratch file systems of its own. Where the kernel refuses one (inside a chroot, in some containers), nothing
# can run: the program is skipped with the kernel's answer (exit status 77, which ctest reports as a skip), or, when
# ZRK_REQUIRE_PRIVATE_MOUNTS is set, as CI sets it, fails with that answer, so that CI never passes without them.
if ! refusal=$(unshare --user --map-root-user --mount true 2>&1); then
    if [ -n "$ZRK_REQUIRE_PRIVATE_MOUNTS" ]; then
        echo "FAIL: the kernel refuses a private user and mount namespace here: $refusal"
        exit 1
    fi
    echo "SKIP: the kernel refuses a private user and mount namespace here: $refusal"
    exit 77
fi
exec unshare --user --map-root-user --mount "$@"
