#!/usr/bin/env bash
# Builds the DecodeFrame fuzz harness with clang (libFuzzer, address and undefined sanitizers)
# and runs it for a bounded time on a copy of the seed corpus. Any finding (a failed property
# check, a crash, a sanitizer report, a leak or a timeout) fails the script.
#
# Environment: FUZZ_SECONDS (default 60), CORVANE_FUZZ_BUILD_DIR (default: the fuzz preset's),
# FUZZ_FLAGS (extra libFuzzer flags, word-split).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${FUZZ_SECONDS:-60}"

# shellcheck source=../scripts/install-missing.sh
. "$root/scripts/install-missing.sh"
install_missing clang libclang-rt-14-dev cmake ninja-build || exit 1

if [ -n "${CORVANE_FUZZ_BUILD_DIR:-}" ]; then
    build_dir="$CORVANE_FUZZ_BUILD_DIR"
    cmake --preset fuzz -B "$build_dir"
else
    build_dir="$root/build/fuzz"
    cmake --preset fuzz
fi
cmake --build "$build_dir" -j2 --target decode_fuzzer decode_fuzz_replay

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/artifacts"
cp fuzz/corpus/* "$work/corpus/"

# The seeds themselves must pass before the fuzzer starts from them.
"$build_dir/fuzz/decode_fuzz_replay" fuzz/corpus

echo "fuzz/ci.sh: fuzzing DecodeFrame for ${seconds} s"
set +e
"$build_dir/fuzz/decode_fuzzer" \
    -max_total_time="$seconds" \
    -print_final_stats=1 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -dict=fuzz/decode.dict \
    -artifact_prefix="$work/artifacts/" \
    ${FUZZ_FLAGS:-} \
    "$work/corpus" >"$work/fuzz.log" 2>&1
status=$?
set -e
# The log without the progress lines: start-up, any report, the final statistics.
grep -v -E '^#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)' "$work/fuzz.log" |
    sed '/Recommended dictionary/,/End of recommended dictionary/d' | tail -n 80 || true

findings="$(find "$work/artifacts" -type f | wc -l)"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "fuzz/ci.sh: FAILED (exit status $status, $findings finding(s))" >&2
    for f in "$work/artifacts"/*; do
        [ -f "$f" ] || continue
        echo "--- $(basename "$f") (hex):" >&2
        od -An -tx1 -v "$f" >&2
        mkdir -p "$root/build/fuzz-findings"
        cp "$f" "$root/build/fuzz-findings/"
    done
    [ "$findings" -eq 0 ] || echo "fuzz/ci.sh: findings copied to build/fuzz-findings/" >&2
    exit 1
fi
grep -E '^#[0-9]+[[:space:]]+DONE' "$work/fuzz.log" || true
echo "fuzz/ci.sh: no findings in ${seconds} s"
