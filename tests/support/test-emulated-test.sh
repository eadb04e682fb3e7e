#!/usr/bin/env bash
# Checks emulated-test.sh with a stand-in emulator that fails silently for its first starts.
# Each case: silent failures before the program starts, the program's own exit status, and
# then the status, number of starts and output expected of emulated-test.sh.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# The stand-in: counts its starts in $work/starts; while fewer than SILENT, ends with 5 unseen.
cat >"$work/emulator" <<'EOF'
#!/usr/bin/env bash
n=$(( $(cat "$STARTS" 2>/dev/null || echo 0) + 1 ))
echo "$n" >"$STARTS"
[ "$n" -le "$SILENT" ] && exit 5
exec "$@"
EOF
chmod +x "$work/emulator"

failures=0
# silent  program                      status  starts  output
cases=(
    "0|echo ran; exit 0|0|1|ran"
    "1|echo ran; exit 0|0|2|ran"
    "2|echo ran; exit 0|0|3|ran"
    "3|echo ran; exit 0|5|3|"
    "0|echo failed; exit 1|1|1|failed"
    "1|echo failed; exit 1|1|2|failed"
    "0|exit 0|0|1|"
    "0|echo error >&2; exit 2|2|3|"
)
for c in "${cases[@]}"; do
    IFS='|' read -r silent program status starts output <<<"$c"
    rm -f "$work/starts"
    got=$(STARTS="$work/starts" SILENT=$silent \
        bash "$here/emulated-test.sh" "$work/emulator" bash -c "$program" 2>/dev/null)
    got_status=$?
    got_starts=$(cat "$work/starts")
    if [ "$got_status" != "$status" ] || [ "$got_starts" != "$starts" ] || [ "$got" != "$output" ]; then
        echo "FAIL: $silent silent start(s), program '$program': status $got_status, $got_starts" \
            "start(s), output '$got'; expected $status, $starts, '$output'"
        failures=$((failures + 1))
    fi
done
echo "${#cases[@]} cases, $failures failed"
[ "$failures" -eq 0 ]
