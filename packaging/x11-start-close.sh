#!/usr/bin/env bash
# Starts a program on the current X display, waits until its top-level window
# is mapped, checks the icon it publishes, closes it the way a window manager's
# close button does (WM_DELETE_WINDOW), and checks that the program ends by
# itself with exit code 0. Meant to run under xvfb-run (packaging/ci.sh):
#   xvfb-run -a packaging/x11-start-close.sh /usr/bin/Corvane
#   WINDOW_TITLE='^hex-frames\.txt — corvane-view$' WINDOW_ICONS=48 \
#       xvfb-run -a packaging/x11-start-close.sh /usr/bin/corvane-view hex-frames.txt
# WINDOW_TITLE: the window's title as an extended regular expression (default
# ^Corvane$); WINDOW_ICONS: the sizes of the square icon images the window must
# carry (default "32 16", the images of Corvane's .ico); WINDOW_CLASS: when set, the
# class the window's WM_CLASS must name (a desktop entry's StartupWMClass, by which
# docks and task bars find the entry of a running program).
# Prints PASS/FAIL lines; exits non-zero on failure.
set -euo pipefail

PROGRAM=${1:?usage: x11-start-close.sh PROGRAM [ARGUMENT...]}
shift
WINDOW_TITLE=${WINDOW_TITLE:-^Corvane\$}
WINDOW_ICONS=${WINDOW_ICONS:-32 16}
WINDOW_CLASS=${WINDOW_CLASS:-}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SHOW_TIMEOUT=${SHOW_TIMEOUT:-30}   # seconds for the window to appear
EXIT_TIMEOUT=${EXIT_TIMEOUT:-10}   # seconds for the program to end once closed
status=0

# The real X11 platform, not the offscreen one the unit tests use.
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

"$PROGRAM" "$@" &
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
    wid=$(xdotool search --onlyvisible --name "$WINDOW_TITLE" 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.2
done

if [ -z "$wid" ]; then
    if kill -0 "$pid" 2>/dev/null; then
        echo "FAIL: no window with a title matching $WINDOW_TITLE was shown within ${SHOW_TIMEOUT} s"
    else
        rc=0
        wait "$pid" || rc=$?
        echo "FAIL: $PROGRAM ended with exit code $rc before showing its window"
    fi
    exit 1
fi
echo "PASS: $PROGRAM shows its window (id $wid, $(xdotool getwindowgeometry "$wid" | sed -n 's/ *Geometry: //p'))"

# Qt publishes the window icon as _NET_WM_ICON; every image of the program's
# icon there shows that the icon was found in its resources and decoded.
icons=$(xprop -id "$wid" _NET_WM_ICON 2>/dev/null | grep -o 'Icon ([0-9]* x [0-9]*)' | sort | tr '\n' ' ' || true)
wanted=() missing=()
for size in $WINDOW_ICONS; do
    wanted+=("${size}x$size")
    [[ "$icons" == *"Icon ($size x $size)"* ]] || missing+=("${size}x$size")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "PASS: the window carries the icon images ${wanted[*]}"
else
    echo "FAIL: the window lacks the icon images ${missing[*]} (_NET_WM_ICON: ${icons:-none})"
    status=1
fi

if [ -n "$WINDOW_CLASS" ]; then
    # WM_CLASS(STRING) = "instance", "class"
    wm_class=$(xprop -id "$wid" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = //p' || true)
    if grep -qE "(^|, )\"$WINDOW_CLASS\"(,|$)" <<<"$wm_class"; then
        echo "PASS: the window's WM_CLASS names $WINDOW_CLASS"
    else
        echo "FAIL: the window's WM_CLASS is ${wm_class:-not set}, not $WINDOW_CLASS"
        status=1
    fi
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
