#!/usr/bin/env bash
# Starts Corvane where no window can open and checks that it says so in its own words and ends
# with status 1, instead of Qt's advice to reinstall and an abort:
#   no-display.sh PATH-TO-Corvane
# Cases: no display named at all, and an X display that is named but not running.
set -uo pipefail

program=${1:?usage: no-display.sh PATH-TO-Corvane}
failures=0

# run_case DESCRIPTION EXPECTED-REASON ENV-ARGUMENTS...
run_case() {
    local what=$1 reason=$2 out rc
    shift 2
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$program" 2>&1)
    rc=$?
    if [ "$rc" -ne 1 ]; then
        echo "FAIL: $what: exit status $rc, expected 1"
        failures=$((failures + 1))
    elif ! grep -qF "Corvane: cannot open its window: $reason" <<<"$out" ||
        ! grep -qF "xvfb-run Corvane" <<<"$out"; then
        echo "FAIL: $what: the program's own message is missing"
        failures=$((failures + 1))
    elif grep -qi "reinstall" <<<"$out"; then
        echo "FAIL: $what: Qt's advice to reinstall is still printed"
        failures=$((failures + 1))
    else
        echo "PASS: $what"
        return
    fi
    sed 's/^/    /' <<<"$out"
}

# A display number with no X server behind it.
display=1999
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done

run_case "no display set" "no display is set"
run_case "display :$display not running" "the display \":$display\" cannot be reached" \
    DISPLAY=":$display"

exit $((failures > 0))
