#!/usr/bin/env bash
# Starts a program on the current X display, waits until its top-level window
# titled Corvane is mapped, closes it the way a window manager's close button
# does (WM_DELETE_WINDOW), and checks that the program ends by itself with exit
# code 0. Meant to run under xvfb-run (packaging/ci.sh):
#   xvfb-run -a packaging/x11-start-close.sh /usr/bin/Corvane
# Prints PASS/FAIL lines; exits non-zero on failure.
set -euo pipefail

PROGRAM=${1:?usage: x11-start-close.sh PROGRAM}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SHOW_TIMEOUT=${SHOW_TIMEOUT:-30}   # seconds for the window to appear
EXIT_TIMEOUT=${EXIT_TIMEOUT:-10}   # seconds for the program to end once closed
status=0

# The real X11 platform, not the offscreen one the unit tests use.
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

"$PROGRAM" &
pid=$!

# shellcheck disable=SC2317  # called by the EXIT trap
stop() {
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null || true
        sleep 1
        kill -9 "$pid" 2>/dev/null || true
    fi
}
trap stop EXIT

wid=
deadline=$((SECONDS + SHOW_TIMEOUT))
while [ $SECONDS -lt $deadline ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
        break
    fi
    wid=$(xdotool search --onlyvisible --name '^Corvane$' 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.2
done

if [ -z "$wid" ]; then
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL: no window titled Corvane was shown within ${SHOW_TIMEOUT} s"
    else
        rc=0
        wait "$pid" || rc=$?
        echo "FAIL: $PROGRAM ended with exit code $rc before showing its window"
    fi
    exit 1
fi
echo "PASS: $PROGRAM shows its window (id $wid, $(xdotool getwindowgeometry "$wid" | sed -n 's/ *Geometry: //p'))"

# Qt publishes the window icon as _NET_WM_ICON; both images of the program's
# .ico there show that the icon was found in its resources and decoded.
icons=$(xprop -id "$wid" _NET_WM_ICON 2>/dev/null | grep -o 'Icon ([0-9]* x [0-9]*)' | sort | tr '\n' ' ' || true)
if [[ "$icons" == *"Icon (16 x 16)"* && "$icons" == *"Icon (32 x 32)"* ]]; then
    echo "PASS: the window carries the 32x32 and 16x16 icon"
else
    echo "FAIL: the window lacks the 32x32 and 16x16 icon (_NET_WM_ICON: ${icons:-none})"
    status=1
fi

# Give the program a moment to settle before closing, as a user would.
sleep 1
python3 "$HERE/close-window.py" "$wid"

deadline=$((SECONDS + EXIT_TIMEOUT))
while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: $PROGRAM still runs ${EXIT_TIMEOUT} s after its window was closed"
    exit 1
fi
rc=0
wait "$pid" || rc=$?
trap - EXIT
if [ "$rc" -eq 0 ]; then
    echo "PASS: closing the window ends $PROGRAM with exit code 0"
else
    echo "FAIL: closing the window ends $PROGRAM with exit code $rc"
    status=1
fi
exit $status
