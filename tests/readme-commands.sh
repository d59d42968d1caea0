#!/bin/sh
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

# readme-commands.sh SOURCE-FOLDER BUILD-FOLDER: the README's run command and then its test command, in one checkout,
# must leave the test command running every test that BUILD-FOLDER (a build with the tests) knows, and its test run
# must fail where it finds none. Kept cheap: in a copy of the sources, each command's configure steps run as they
# stand, without the package installs, the builds and the program start; the test run only lists the tests.
source=$1
built=$2
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}
command_of() {
    sed -n "/<!-- $1 -->/{n;n;p;q}" "$source/README.md"
}
# The steps of a command joined by &&, one a line, that begin with the given words.
steps_of() {
    command_of "$1" | sed 's/ && /\n/g' | grep "^$2 "
}
# Runs the configure steps of a command as they stand.
configure() {
    steps_of "$1" 'cmake -S' >steps || fail "the $1 configures nothing"
    while read -r step; do
        sh -c "$step" >configure.log 2>&1 || fail "'$step' failed: $(tail -n 20 configure.log)"
    done <steps
}
folder_of() {
    steps_of "$1" 'cmake -S' | sed -n 's/.* -B \([^ ]*\).*/\1/p' | tail -n 1
}
test_names_in() {
    ctest --test-dir "$1" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sort
}

tar -C "$source" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf - || fail "cannot copy the sources"
cd "$copy" || fail "no copy"

configure run-command
configure test-command
test_folder=$(folder_of test-command)
test_names_in "$test_folder" >listed
test_names_in "$built" >expected
[ -s expected ] || fail "$built knows no tests"
cmp -s listed expected || fail "the test command would run other tests than $built has: $(diff expected listed)"

# Over a build without tests, such as the run command's, the test run fails rather than pass untested.
test_run=$(steps_of test-command ctest)
[ -n "$test_run" ] || fail "the test command runs no ctest"
test_run=$(echo "$test_run" | sed "s| --test-dir [^ ]*| --test-dir $(folder_of run-command)|")
if sh -c "$test_run" >test-run.log 2>&1; then
    fail "'$test_run' passed where no test was built"
fi
echo "PASS: after the run command, the test command runs all $(wc -l <expected) tests, and fails where there are none"
