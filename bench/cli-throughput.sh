#!/usr/bin/env bash
# Throughput of corvane-decode, hexadecimal lines to CSV records, over a file of different
# frames (10 million by default, made by cli_frames in the build folder): --threads 1 and
# --threads 2, next to the plain Python decoder bench/cli_reference.py in the same run (on a
# slice, scaled: it is slow), with the peak resident memory of each run. Prints medians.
#
#   bench/cli-throughput.sh [BUILD_DIR [RUNS]]     (default build/bench, 5 runs)
#   FRAMES=10000000 PY_FRAMES=200000 bench/cli-throughput.sh
#
# Needs /usr/bin/time (Debian package "time") and python3. Records go to /dev/null, so the
# figures are those of reading, decoding and formatting, not of a disk.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
runs=${2:-5}
frames=${FRAMES:-10000000}
py_frames=${PY_FRAMES:-200000}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_WINDOW=OFF \
        -DCORVANE_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --parallel 2 --target corvane-decode cli_frames >/dev/null
decoder=$build/src/cli/corvane-decode
data=$build/cli-bench
mkdir -p "$data"
file=$data/frames-$frames.txt
if [ ! -f "$file" ]; then
    echo "writing $file"
    "$build/bench/cli_frames" "$frames" "$file"
fi
slice=$data/frames-$py_frames-slice.txt
head -n "$py_frames" "$file" >"$slice"
cat "$file" >/dev/null # into the page cache

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs a command `runs` times; leaves the median wall time in $seconds and the largest peak
# resident memory (kB) in $peak_kb.
measure() {
    local times=() peaks=() i start end
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s.%N)
        # Status 1 is expected: the frames include some with a wrong CRC.
        /usr/bin/time -f %M -o "$data/rss" "$@" >/dev/null || [ $? -eq 1 ]
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc -l)")
        peaks+=("$(cat "$data/rss")")
    done
    seconds=$(printf '%s\n' "${times[@]}" | median)
    peak_kb=$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)
    echo "    $1 ${*:2:2}...: runs of ${times[*]} s"
}

rate() { echo "$1 / $2" | bc -l; }

echo "corvane-decode --format csv, $frames frames ($(du -m "$file" | cut -f1) MB), median of $runs runs"
measure "$decoder" --threads 1 --format csv "$file"
t1=$seconds; r1=$(rate "$frames" "$t1"); m1=$peak_kb
measure "$decoder" --threads 2 --format csv "$file"
t2=$seconds; r2=$(rate "$frames" "$t2"); m2=$peak_kb
py_runs=$(( runs < 3 ? runs : 3 ))
saved_runs=$runs; runs=$py_runs
measure python3 bench/cli_reference.py "$slice"
runs=$saved_runs
tp=$seconds; rp=$(rate "$py_frames" "$tp")

# Input order with two threads, and the Python decoder's records, checked on the same data.
same_order=no
if [ "$("$decoder" --threads 1 --format csv "$file" | sha256sum)" = \
     "$("$decoder" --threads 2 --format csv "$file" | sha256sum)" ]; then
    same_order=yes
fi
same_records=no
if cmp -s <(python3 bench/cli_reference.py "$slice") <("$decoder" --threads 1 --format csv "$slice"); then
    same_records=yes
fi

printf '  %-34s %8.2f s %8.2f M frames/s   peak %5.1f MB\n' "--threads 1" "$t1" "$(rate "$r1" 1000000)" "$(rate "$m1" 1024)"
printf '  %-34s %8.2f s %8.2f M frames/s   peak %5.1f MB   (x%.2f)\n' "--threads 2" "$t2" "$(rate "$r2" 1000000)" "$(rate "$m2" 1024)" "$(rate "$t1" "$t2")"
printf '  %-34s %8.2f s %8.3f M frames/s   (%d frames, median of %d)\n' "python3 bench/cli_reference.py" "$tp" "$(rate "$rp" 1000000)" "$py_frames" "$py_runs"
printf '  %-34s %8.0f x\n' "--threads 1 against Python" "$(rate "$r1" "$rp")"
echo "  records of --threads 2 in input order (same as --threads 1): $same_order"
echo "  Python and corvane-decode records equal on the slice: $same_records"
