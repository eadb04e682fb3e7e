#!/usr/bin/env bash
# Throughput of the signal readers on a large sigrok session: 500 million 1-byte samples (a
# 2.5 MHz BiSS clock sampled at 25 MHz, 64-clock frames every 50 us: 400,000 frames, 20 s of
# signal), made once by bench/signal_session and kept in the build folder. In one run, taking
# turns: `unzip -p` inflating the session's data members to /dev/null, and the capture library
# reading the session through OpenCaptureReader (signal_session decode: inflate, scan for
# changes, burst decoder, frames). Prints the medians of wall and CPU time, their ratios (the
# goal is at most 1.5; on a busy machine the CPU time is the steadier figure) and the peak
# resident memory of each (the goal is under 64 MB).
#
#   bench/signal-throughput.sh [BUILD_DIR [RUNS]]     (default build/bench, 5 runs)
#   SAMPLES=100000000 bench/signal-throughput.sh      (a smaller session)
#
# Needs /usr/bin/time (Debian package "time") and unzip.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
runs=${2:-5}
samples=${SAMPLES:-500000000}

for tool in /usr/bin/time unzip bc; do
    if ! command -v "$tool" >/dev/null; then
        echo "signal-throughput.sh: $tool is missing (apt-get install time unzip bc)" >&2
        exit 1
    fi
done
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_WINDOW=OFF \
        -DCORVANE_BUILD_VIEW=OFF -DCORVANE_BUILD_TESTS=OFF >/dev/null
fi
nice cmake --build "$build" --parallel 2 --target signal_session >/dev/null
program=$build/bench/signal_session
data=$build/signal-bench
mkdir -p "$data"
session=$data/session-$samples.sr
if [ ! -f "$session" ]; then
    echo "writing $session"
    "$program" make "$session.tmp" "$samples"
    mv "$session.tmp" "$session"
fi
cat "$session" >/dev/null # into the page cache

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The frames the library finds, checked once outside the timed runs.
echo "frames: $("$program" decode "$session" --check | tr '\n' ' ')"

# Wall time, and the CPU time (user + system) that other work on the machine disturbs less.
unzip_times=() decode_times=() unzip_cpu=() decode_cpu=() unzip_peaks=() decode_peaks=()
for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %U %S %M' -o "$data/unzip.time" unzip -p "$session" 'logic-1-*' >/dev/null
    read -r seconds user system peak <"$data/unzip.time"
    unzip_times+=("$seconds"); unzip_cpu+=("$(echo "$user + $system" | bc -l)"); unzip_peaks+=("$peak")
    /usr/bin/time -f '%e %U %S %M' -o "$data/decode.time" "$program" decode "$session" >/dev/null
    read -r seconds user system peak <"$data/decode.time"
    decode_times+=("$seconds"); decode_cpu+=("$(echo "$user + $system" | bc -l)"); decode_peaks+=("$peak")
done
tu=$(printf '%s\n' "${unzip_times[@]}" | median)
td=$(printf '%s\n' "${decode_times[@]}" | median)
cu=$(printf '%s\n' "${unzip_cpu[@]}" | median)
cd_=$(printf '%s\n' "${decode_cpu[@]}" | median)
mu=$(printf '%s\n' "${unzip_peaks[@]}" | sort -n | tail -1)
md=$(printf '%s\n' "${decode_peaks[@]}" | sort -n | tail -1)
ratio=$(echo "$td / $tu" | bc -l)
cpu_ratio=$(echo "$cd_ / $cu" | bc -l)

echo "sigrok session of $samples samples ($(du -k "$session" | cut -f1) kB), median of $runs runs taking turns"
echo "  unzip -p wall:  ${unzip_times[*]} s   cpu: ${unzip_cpu[*]} s"
echo "  decode wall:    ${decode_times[*]} s   cpu: ${decode_cpu[*]} s"
printf '  %-40s %6.2f s wall %6.2f s cpu %6.0f M samples/s   peak %6.1f MB\n' "unzip -p FILE 'logic-1-*' > /dev/null" \
    "$tu" "$cu" "$(echo "$samples / $tu / 1000000" | bc -l)" "$(echo "$mu / 1024" | bc -l)"
printf '  %-40s %6.2f s wall %6.2f s cpu %6.0f M samples/s   peak %6.1f MB\n' "signal_session decode FILE" \
    "$td" "$cd_" "$(echo "$samples / $td / 1000000" | bc -l)" "$(echo "$md / 1024" | bc -l)"
printf '  decode / unzip: %.2f wall, %.2f cpu (goal: at most 1.5)\n' "$ratio" "$cpu_ratio"
status=0
if [ "$(echo "$ratio > 1.5 && $cpu_ratio > 1.5" | bc -l)" = 1 ]; then
    echo "  the decode is slower than 1.5 x unzip" >&2
    status=1
fi
if [ "$md" -ge $((64 * 1024)) ]; then
    echo "  the decode's peak memory is 64 MB or more" >&2
    status=1
fi
exit $status
