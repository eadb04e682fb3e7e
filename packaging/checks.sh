# shellcheck shell=bash
# The PASS/FAIL lines of the project's check scripts, written once. Sourced by
# packaging/ci.sh, packaging/windows.sh and tests/e2e/decode-e2e.sh:
#
#   . "$root/packaging/checks.sh"
#   report "the zip holds three files" "${problems[@]}"   # PASS without problems, else FAIL
#   run_check 60 "xmllint accepts it" xmllint --noout file.xml
#   checks_summary "packaging checks" || exit 1
#
# Every check prints one line, "PASS: what", "FAIL: what" or "SKIP: what (why)", a failure
# followed by its problems, indented. CHECKS_PASSED, CHECKS_FAILED and CHECKS_SKIPPED count
# them.

CHECKS_PASSED=0
CHECKS_FAILED=0
CHECKS_SKIPPED=0

pass() {
    echo "PASS: $*"
    CHECKS_PASSED=$((CHECKS_PASSED + 1))
}

# fail WHAT [PROBLEM...]
fail() {
    echo "FAIL: $1"
    shift
    [ $# -eq 0 ] || printf '    %s\n' "$@"
    CHECKS_FAILED=$((CHECKS_FAILED + 1))
}

# skip WHAT WHY
skip() {
    echo "SKIP: $1 ($2)"
    CHECKS_SKIPPED=$((CHECKS_SKIPPED + 1))
}

# report WHAT [PROBLEM...]: PASS without problems, else FAIL with them.
report() {
    local what=$1
    shift
    if [ $# -eq 0 ]; then pass "$what"; else fail "$what" "$@"; fi
}

# Runs a check with a time limit; its output is shown (the last 40 lines) only when it fails.
#   run_check SECONDS WHAT COMMAND...
run_check() {
    local limit=$1 what=$2 log status=0
    shift 2
    log=$(mktemp)
    timeout "$limit" "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        pass "$what"
    else
        fail "$what" "exit status $status$([ "$status" -eq 124 ] && echo ", after the time limit of $limit s")"
        sed 's/^/    /' "$log" | tail -n 40
    fi
    rm -f "$log"
    return "$status"
}

# Passes or fails on a command's status, without showing its output.
#   expect PASS-TEXT FAIL-TEXT COMMAND...
expect() {
    local yes=$1 no=$2
    shift 2
    if "$@" >/dev/null 2>&1; then pass "$yes"; else fail "$no"; fi
}

# checks_summary NAME: "NAME: N passed, M failed, K skipped"; fails when any check failed.
checks_summary() {
    echo "$1: $CHECKS_PASSED passed, $CHECKS_FAILED failed, $CHECKS_SKIPPED skipped"
    [ "$CHECKS_FAILED" -eq 0 ]
}
