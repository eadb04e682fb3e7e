#!/usr/bin/env bash
# Runs a test program of a cross build under its emulator: emulated-test.sh EMULATOR... PROGRAM ARGS...
#
# Wine, started many times in a row on a busy machine, now and then ends at once with a failing
# status without having started the program (seen in CI: a test "failed" in 0.00 s with no
# output at all). A test program always writes to its standard output before it runs anything
# (GoogleTest's header, or the list of tests it is asked for), so a failing status with nothing
# written is the emulator's, not the test's: the program is started again, at most three times
# in all, and each such start is reported on standard error. A failure after output, or a start
# that keeps failing, stays a failure.
set -u
attempts=3
written=$(mktemp) || exit 1
trap 'rm -f "$written"' EXIT
status=0
for ((attempt = 1; attempt <= attempts; attempt++)); do
    # Standard output passes through as it comes (a hung test still shows how far it got);
    # standard error is not redirected.
    "$@" | tee "$written"
    status=${PIPESTATUS[0]}
    if [ "$status" -eq 0 ] || [ -s "$written" ]; then
        exit "$status"
    fi
    echo "emulated-test.sh: the emulator ended with status $status before the program wrote" \
        "anything (start $attempt of $attempts): $*" >&2
done
exit "$status"
