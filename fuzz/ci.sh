#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (libFuzzer, address and undefined sanitizers) and runs
# each for a bounded time on a copy of its seed corpus. Any finding (a failed property
# check, a crash, a sanitizer report, a leak or a timeout) fails the script.
#
# Environment: FUZZ_SECONDS per harness (default 45), CORVANE_FUZZ_BUILD_DIR (default: the fuzz preset's),
# FUZZ_FLAGS (extra libFuzzer flags, word-split).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${FUZZ_SECONDS:-45}"

# shellcheck source=../scripts/install-missing.sh
. "$root/scripts/install-missing.sh"
install_missing clang libclang-rt-14-dev cmake ninja-build pkg-config libcli11-dev libzip-dev || exit 1

if [ -n "${CORVANE_FUZZ_BUILD_DIR:-}" ]; then
    build_dir="$CORVANE_FUZZ_BUILD_DIR"
    cmake --preset fuzz -B "$build_dir"
else
    build_dir="$root/build/fuzz"
    cmake --preset fuzz
fi
# Each harness: the name of its source, its seed corpus and its dictionary (or none).
harnesses=(
    "decode_fuzzer fuzz/corpus fuzz/decode.dict"
    "layout_fuzzer fuzz/layout-corpus -"
    "capture_fuzzer fuzz/capture-corpus -"
    "signal_fuzzer fuzz/signal-corpus -"
)
targets=()
for entry in "${harnesses[@]}"; do
    read -r name _ _ <<<"$entry"
    targets+=("$name" "${name}_replay")
done
cmake --build "$build_dir" -j2 --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0

# Runs one harness for $seconds on a copy of its corpus; any finding fails the script.
run_harness() {
    local name=$1 corpus=$2 dict=$3
    local dir="$work/$name"
    mkdir -p "$dir/corpus" "$dir/artifacts"
    cp "$corpus"/* "$dir/corpus/"

    # The seeds themselves must pass before the fuzzer starts from them.
    "$build_dir/fuzz/${name}_replay" "$corpus"

    echo "fuzz/ci.sh: fuzzing with $name for ${seconds} s"
    # Inputs up to 4 KiB: enough for every reader's shapes; the replay under CTest and longer
    # runs by hand (-max_len=140000 -len_control=0) reach the long-line paths.
    local flags=(-max_total_time="$seconds" -print_final_stats=1 -timeout=20 -rss_limit_mb=2048
        -max_len=4096 -artifact_prefix="$dir/artifacts/")
    [ "$dict" = - ] || flags+=(-dict="$dict")
    local status=0
    # shellcheck disable=SC2086
    "$build_dir/fuzz/$name" "${flags[@]}" ${FUZZ_FLAGS:-} "$dir/corpus" >"$dir/fuzz.log" 2>&1 || status=$?
    # The log without the progress lines: start-up, any report, the final statistics.
    grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$dir/fuzz.log" |
        sed '/Recommended dictionary/,/End of recommended dictionary/d' | tail -n 80 || true

    local findings
    findings="$(find "$dir/artifacts" -type f | wc -l)"
    if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
        echo "fuzz/ci.sh: $name FAILED (exit status $status, $findings finding(s))" >&2
        for f in "$dir/artifacts"/*; do
            [ -f "$f" ] || continue
            echo "--- $(basename "$f") (hex):" >&2
            od -An -tx1 -v "$f" >&2
            mkdir -p "$root/build/fuzz-findings/$name"
            cp "$f" "$root/build/fuzz-findings/$name/"
        done
        [ "$findings" -eq 0 ] || echo "fuzz/ci.sh: findings copied to build/fuzz-findings/$name/" >&2
        failed=1
        return
    fi
    grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/fuzz.log" || true
}

for entry in "${harnesses[@]}"; do
    read -r name corpus dict <<<"$entry"
    run_harness "$name" "$corpus" "$dict"
done
[ "$failed" -eq 0 ] || exit 1
echo "fuzz/ci.sh: no findings in ${seconds} s per harness"
