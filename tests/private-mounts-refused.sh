#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# Where the kernel refuses a private user namespace, a test that needs one is skipped with the kernel's answer, and
# fails with it where ZRK_REQUIRE_PRIVATE_MOUNTS says the namespaces must be there. The refusal comes from a stand-in
# unshare first on PATH that answers as such a kernel makes unshare answer.
wrapper=$(dirname "$0")/in-private-mounts.sh
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat >"$fake/unshare" <<'UNSHARE'
#!/bin/sh
echo "unshare: unshare failed: Operation not permitted" >&2
exit 1
UNSHARE
chmod +x "$fake/unshare"

fail() {
    echo "FAIL: $*"
    exit 1
}
# run EXPECTED-STATUS [VARIABLE=VALUE...]: the wrapper, around a program that must never start.
run() {
    expected=$1
    shift
    status=0
    output=$(env -u ZRK_REQUIRE_PRIVATE_MOUNTS PATH="$fake:$PATH" "$@" "$wrapper" touch "$fake/started") || status=$?
    [ $status -eq "$expected" ] || fail "exit status $status, not $expected: $output"
    echo "$output" | grep -q "refuses a private user and mount namespace here: unshare: unshare failed: Operation not permitted" \
        || fail "the reason is not given: $output"
    [ ! -e "$fake/started" ] || fail "the program ran without its namespace"
}

run 77
run 1 ZRK_REQUIRE_PRIVATE_MOUNTS=1
echo "PASS: refused namespaces skip, and fail where they are required"
