#!/usr/bin/env bash
# Measures the start of the Corvane window under Xvfb: the time from launching the executable
# until its window is mapped, and until its first paint shows on the screen (median of several
# runs), and the peak resident memory of the running window (VmHWM after the first paint and a
# short settle).
#
# The first paint is found by grabbing the window with xwd while it starts: the screen behind
# it is black (Xvfb -br), and the first grab that holds more than a few colours (text, panels,
# the logo) is the painted window. Its time, taken when that grab was complete, is an upper
# bound, within one grab (a few ms).
# All runs after the first use the warm file cache; the first run is shown on its own.
#
# Usage: bench/measure-startup.sh [path/to/Corvane] [runs]   (default build/h-bench, 9 runs)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
exe="${1:-$root/build/h-bench/src/window/Corvane}"
runs="${2:-9}"

for tool in Xvfb xwininfo xwd python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "measure-startup.sh: $tool missing (apt-get install xvfb x11-utils x11-apps python3)" >&2
        exit 1
    fi
done
[ -x "$exe" ] || { echo "measure-startup.sh: no executable at $exe" >&2; exit 1; }

work="$(mktemp -d)"
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to fd 5.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -br -nolisten tcp 5>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.05
done
[ -s "$work/display" ] || { echo "measure-startup.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
echo "measure-startup.sh: Xvfb on $DISPLAY, $runs runs of $exe"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Prints the id of Corvane's top-level window (WM_CLASS "Corvane"), if it exists yet.
window_id() {
    xwininfo -root -children 2>/dev/null |
        awk '/\("Corvane" "Corvane"\)/ { print $1; exit }'
}


results="$work/results.txt"
: >"$results"
for run in $(seq "$runs"); do
    caps="$work/run$run"
    mkdir "$caps"
    start="${EPOCHREALTIME/./}"
    "$exe" >"$work/app.log" 2>&1 &
    app_pid=$!

    wid=""
    mapped=""
    while [ -z "$mapped" ]; do
        if [ -z "$wid" ]; then
            wid="$(window_id)"
        fi
        if [ -n "$wid" ] && xwininfo -id "$wid" 2>/dev/null | grep -q IsViewable; then
            mapped="${EPOCHREALTIME/./}"
        fi
        if [ $(( ${EPOCHREALTIME/./} - start )) -gt 10000000 ]; then
            echo "measure-startup.sh: no window within 10 s" >&2
            cat "$work/app.log" >&2
            exit 1
        fi
    done
    # Grab the window until a second after it was mapped.
    i=0
    while [ $(( ${EPOCHREALTIME/./} - mapped )) -lt 1000000 ]; do
        # Named after the time the grab was complete: the picture is at least that old.
        xwd -silent -id "$wid" >"$caps/grab.xwd" 2>/dev/null || true
        t="${EPOCHREALTIME/./}"
        mv "$caps/grab.xwd" "$caps/$(printf %04d $i)_$((t - start)).xwd"
        i=$((i + 1))
    done
    sleep 0.5
    hwm_kb="$(awk '/^VmHWM:/ { print $2 }' "/proc/$app_pid/status")"
    rss_kb="$(awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status")"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    echo "$run $((mapped - start)) $caps $hwm_kb $rss_kb" >>"$results"
done

python3 - "$results" <<'PY'
import os, statistics, struct, sys

def colours(path):
    """Number of distinct pixel values in an xwd dump (ZPixmap, 32 bits per pixel)."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 100:
        return 0
    fields = struct.unpack(">25I", data[:100])
    header_size, ncolors, height, bytes_per_line = fields[0], fields[19], fields[5], fields[12]
    pixels = data[header_size + 12 * ncolors:]
    return len(set(pixels[i:i + 4] for i in range(0, min(len(pixels), height * bytes_per_line), 4)))

rows = []
for line in open(sys.argv[1]):
    run, mapped_us, caps, hwm_kb, rss_kb = line.split()
    painted_us = None
    blank = 0
    names = sorted(os.listdir(caps))
    for name in names:
        if colours(os.path.join(caps, name)) > 16:
            painted_us = int(name.split("_")[1].split(".")[0])
            break
        blank += 1
    first = colours(os.path.join(caps, names[0])) if names else 0
    rows.append((int(run), int(mapped_us) / 1000, painted_us / 1000 if painted_us else None,
                 int(hwm_kb) / 1024, int(rss_kb) / 1024, len(names), blank, first))

print("run  mapped ms  first paint ms  VmHWM MB  VmRSS MB  grabs  unpainted  colours(1st)")
for run, mapped, painted, hwm, rss, grabs, blank, first in rows:
    shown = "%14.1f" % painted if painted is not None else "%14s" % "none"
    print("%3d  %9.1f  %s  %8.1f  %8.1f  %5d  %9d  %12d"
          % (run, mapped, shown, hwm, rss, grabs, blank, first))
warm = rows[1:] if len(rows) > 1 else rows
paints = [r[2] for r in warm if r[2] is not None]
print("median of runs %d-%d: mapped %.1f ms, first paint %s ms, peak RSS (VmHWM) %.1f MB"
      % (warm[0][0], warm[-1][0], statistics.median(r[1] for r in warm),
         "%.1f" % statistics.median(paints) if paints else "n/a",
         statistics.median(r[3] for r in warm)))
print("first run (colder cache): mapped %.1f ms, first paint %s ms"
      % (rows[0][1], "%.1f" % rows[0][2] if rows[0][2] is not None else "n/a"))
print("goals: first paint < 300 ms, peak RSS < 60 MB")
PY
