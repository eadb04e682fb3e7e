#!/usr/bin/env bash
# corvane-decode.exe run end to end through an emulator (Wine), each check against the native
# corvane-decode on the same input: the same exit status and the same bytes on standard output
# and standard error. CTest runs each check as a test of its own (tests/e2e/CMakeLists.txt):
#
#   decode-e2e.sh --list CAPTURES-DIR
#       the names of the checks, one a line
#   decode-e2e.sh CHECK WORK-DIR NATIVE EXE CAPTURES-DIR VERSION WINDRES EMULATOR...
#       runs one check in WORK-DIR (emptied first): NATIVE is the native program, EXE the
#       Windows one, VERSION the project's, WINDRES MinGW's resource compiler, EMULATOR the
#       command that runs EXE (CMAKE_CROSSCOMPILING_EMULATOR)
#
# Prints PASS, FAIL with the differences, or SKIP (exit status 77) where the check cannot run
# here. Programs run with LC_ALL=C.UTF-8, as the emulator runs them: Wine makes the Windows
# command line from the Unix arguments in the locale's character set.
set -euo pipefail

# shellcheck source=../../packaging/checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../packaging/checks.sh"

# A name with blanks and letters outside code page 1252: Latin-1, code page 1252 only (€),
# Greek and CJK; and a folder outside the ANSI code page.
UNICODE_NAME='främes € Ωμέγα 測定.txt'
UNICODE_DIR='測定 Ωμέγα'

list_checks() {
    local src
    echo version-record default-frame-jsonl default-frame-csv version help
    for src in "$1"/*; do
        case ${src##*/} in README.md) ;; *) echo "capture.${src##*/}" ;; esac
    done
    echo name-csv name-jsonl name-table console folder-unicode folder-backslash
    echo path-drive-backslash path-drive-slash path-relative-backslash path-root
    echo stdin-file stdin-dash stdin-pipe stdin-ctrl-z
    echo exit-bad-crc exit-no-frames exit-threads-0 exit-unknown-option exit-missing-file exit-folder
    echo crlf-frames crlf-help crlf-bogus crlf-summary
    echo threads
}

if [ "${1:-}" = --list ]; then
    list_checks "$2" | tr ' ' '\n'
    exit 0
fi
if [ $# -lt 8 ]; then
    echo "usage: $0 --list CAPTURES-DIR | CHECK WORK-DIR NATIVE EXE CAPTURES-DIR VERSION WINDRES EMULATOR..." >&2
    exit 2
fi
CHECK=$1 E2E=$2 NATIVE=$3 EXE=$4 CAPTURES=$5 VERSION=$6 WINDRES=$7
shift 7
EMULATOR=("$@")
export LC_ALL=C.UTF-8

# The physical path: Wine's drive Z: is the root of the physical file system.
rm -rf "$E2E"
mkdir -p "$E2E"
E2E=$(cd "$E2E" && pwd -P)

# The inputs: each text capture with CR LF line ends (the binary one as it is), the default
# frame, names outside the ANSI code page, a 0x1A byte, a bad CRC, an empty file, a folder.
prepare_inputs() {
    local src name
    mkdir -p "$E2E/captures" "$E2E/$UNICODE_DIR" "$E2E/folder"
    for src in "$CAPTURES"/*; do
        name=${src##*/}
        case $name in
        README.md) ;;
        # Binary files and folders (a logic analyzer's binary export) as they are.
        *.bin | *.sr) cp "$src" "$E2E/captures/$name" ;;
        *) if [ -d "$src" ]; then
               rm -rf "${E2E:?}/captures/$name" && cp -r "$src" "$E2E/captures/$name"
           else
               sed 's/\r$//; s/$/\r/' "$src" >"$E2E/captures/$name"
           fi ;;
        esac
    done
    printf 'C004C9BA71753000\n' >"$E2E/default-frame.txt"
    printf 'C004C9BA71753000\r\nC0055555556AB000\r\n' >"$E2E/$UNICODE_NAME"
    cp "$E2E/captures/hex-frames-crlf.txt" "$E2E/$UNICODE_DIR/frames.txt"
    printf 'C004C9BA71753000\r\n\x1a\r\nC0040000007D3000\r\n' >"$E2E/ctrl-z.txt"
    printf 'C0055555556AB000\n' >"$E2E/bad-crc.txt"
    : >"$E2E/empty.txt"
}

# run_in TAG PROGRAM [ARG...]: runs the program in $E2E with standard input from the file
# $STDIN (empty when unset; through a pipe when PIPE=1), output in $E2E/TAG.out and
# $E2E/TAG.err; leaves the exit status in RUN_STATUS.
run_in() {
    local tag=$1
    shift
    RUN_STATUS=0
    if [ "${PIPE:-0}" = 1 ]; then
        # shellcheck disable=SC2002 # a pipe is what is tested
        (cd "$E2E" && cat "$STDIN" | "$@" >"$E2E/$tag.out" 2>"$E2E/$tag.err") || RUN_STATUS=$?
    else
        (cd "$E2E" && "$@" <"${STDIN:-/dev/null}" >"$E2E/$tag.out" 2>"$E2E/$tag.err") || RUN_STATUS=$?
    fi
}

run_native() { run_in native "$NATIVE" "$@"; }
# Wine now and then fails at once without starting the program. corvane-decode never fails
# without saying why, so a failing status with nothing written on either stream is Wine's: the
# program is started again, at most three times in all.
run_windows() {
    local start
    for start in 1 2 3; do
        run_in win "${EMULATOR[@]}" "$EXE" "$@"
        if [ "$RUN_STATUS" -eq 0 ] || [ -s "$E2E/win.out" ] || [ -s "$E2E/win.err" ]; then
            return
        fi
        echo "decode-e2e.sh: Wine ended with status $RUN_STATUS before corvane-decode.exe wrote" \
            "anything (start $start of 3)" >&2
    done
}

# The first differing lines of the two programs' output STREAM (out or err), ^M for a CR.
show_difference() {
    diff "$E2E/native.$1" "$E2E/win.$1" | head -n 6 | cat -v
}

# compare_same STATUS: both runs must have exited with STATUS (a pattern: [01] for either)
# and written the same bytes to standard output and to standard error. With WANT_OUT set,
# the standard output must also be exactly that text. Adds to PROBLEMS.
compare_same() {
    local want=$1
    # shellcheck disable=SC2053 # STATUS is a pattern
    [[ $NATIVE_STATUS == $want ]] || PROBLEMS+=("the native program exited with $NATIVE_STATUS, not $want")
    # shellcheck disable=SC2053
    [[ $RUN_STATUS == $want ]] || PROBLEMS+=("corvane-decode.exe exited with $RUN_STATUS, not $want")
    [ "$RUN_STATUS" = "$NATIVE_STATUS" ] ||
        PROBLEMS+=("exit statuses differ: $NATIVE_STATUS native, $RUN_STATUS under Wine")
    if ! cmp -s "$E2E/native.out" "$E2E/win.out"; then
        PROBLEMS+=("standard output differs from the native program's (< native, > Wine):")
        mapfile -t -O ${#PROBLEMS[@]} PROBLEMS < <(show_difference out)
    fi
    if ! cmp -s "$E2E/native.err" "$E2E/win.err"; then
        PROBLEMS+=("standard error differs from the native program's (< native, > Wine):")
        mapfile -t -O ${#PROBLEMS[@]} PROBLEMS < <(show_difference err)
    fi
    if [ -n "${WANT_OUT+set}" ] && [ "$(cat "$E2E/win.out")" != "$WANT_OUT" ]; then
        PROBLEMS+=("standard output is not the expected text:" "$(head -c 400 "$E2E/win.out" | cat -v)")
    fi
}

# expect_same STATUS [ARG...]: runs both programs with the same arguments and $STDIN and
# compares them (compare_same).
expect_same() {
    local want=$1
    shift
    run_native "$@"
    NATIVE_STATUS=$RUN_STATUS
    run_windows "$@"
    compare_same "$want"
}

# expect_source STATUS WINDOWS_NAME NATIVE_NAME [ARG...]: the same input named one way for
# corvane-decode.exe and another for the native program; the Windows program's CSV records
# must be the native ones with WINDOWS_NAME as their source.
expect_source() {
    local want=$1 win_name=$2 native_name=$3 expected
    shift 3
    run_native "$@" "$native_name"
    NATIVE_STATUS=$RUN_STATUS
    run_windows "$@" "$win_name"
    expected=$(cat "$E2E/native.out")
    expected=${expected//$'\n'"$native_name:"/$'\n'"$win_name:"}
    [ "$NATIVE_STATUS" = "$want" ] || PROBLEMS+=("the native program exited with $NATIVE_STATUS, not $want")
    [ "$RUN_STATUS" = "$want" ] || PROBLEMS+=("corvane-decode.exe exited with $RUN_STATUS, not $want")
    has_line_beginning "$win_name:" "$E2E/win.out" ||
        PROBLEMS+=("no record has the source $win_name:LINE (in UTF-8)")
    if [ "$(cat "$E2E/win.out")" != "$expected" ]; then
        PROBLEMS+=("the records differ from the native ones with the name replaced:"
            "$(diff <(printf '%s\n' "$expected") "$E2E/win.out" | head -n 6 | cat -v)")
    fi
}

# has_line_beginning TEXT FILE: whether a line of FILE begins with TEXT, taken literally.
has_line_beginning() {
    N=$1 awk 'index($0, ENVIRON["N"]) == 1 { found = 1 } END { exit !found }' "$2"
}

# The version record of res/corvane-decode.rc with this description, the project's version
# and the program's own file name, and the console manifest.
check_version_record() {
    local rc line
    if ! rc=$("$WINDRES" -i "$EXE" -O rc 2>&1); then
        PROBLEMS+=("$WINDRES cannot read the resources of $EXE: $rc")
        return
    fi
    for line in "FILEVERSION ${VERSION//./, }" 'VALUE "FileDescription", "Corvane BiSS-C frame decoder"' \
        "VALUE \"FileVersion\", \"$VERSION\"" 'VALUE "ProductName", "Corvane"' \
        "VALUE \"OriginalFilename\", \"$(basename "$EXE")\"" 'RT_MANIFEST' 'longPathAware'; do
        grep -qF "$line" <<<"$rc" || PROBLEMS+=("the resources lack: $line")
    done
}

# corvane-decode.exe on a console, Wine's console on a pseudo-terminal made by script(1): a
# table (the format for a terminal) whose source column shows the name. The program writes
# to a console with WriteConsoleW; bytes written there would be shown in the console's code
# page (437 here), so a name outside ASCII would come out garbled.
check_console() {
    local shown
    if ! script -qefc true /dev/null </dev/null >/dev/null 2>&1; then
        skip "$DESCRIPTION" "script(1) cannot open a pseudo-terminal here"
        exit 77
    fi
    local start
    for start in 1 2 3; do
        RUN_STATUS=0
        (cd "$E2E" && timeout 120 script -qefc "$(printf '%q ' "${EMULATOR[@]}" "$EXE" "$UNICODE_NAME")" \
            /dev/null </dev/null >"$E2E/console.raw" 2>&1) || RUN_STATUS=$?
        # Without the terminal's control sequences and carriage returns.
        sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$E2E/console.raw" | tr -d '\r' >"$E2E/console.txt"
        shown=$(cat "$E2E/console.txt")
        # Nothing shown and a failing status: Wine did not start the program (see run_windows).
        if [ "$RUN_STATUS" -eq 0 ] || [ -n "${shown//[[:space:]]/}" ]; then
            break
        fi
        echo "decode-e2e.sh: Wine ended with status $RUN_STATUS before corvane-decode.exe showed" \
            "anything (start $start of 3)" >&2
    done
    [ "$RUN_STATUS" = 1 ] || PROBLEMS+=("exit status $RUN_STATUS, not 1")
    [[ $shown == source\ * ]] || PROBLEMS+=("not a table: $(head -c 200 <<<"$shown" | cat -v)")
    has_line_beginning "$UNICODE_NAME:1 " "$E2E/console.txt" ||
        PROBLEMS+=("no line begins with $UNICODE_NAME:1; the console showed:" "$(cat -v <<<"$shown" | head -n 5)")
}

# check_no_cr ARG...: corvane-decode.exe writes its streams in binary mode: no carriage
# return added to standard output or standard error.
check_no_cr() {
    local stream crs
    run_windows "$@"
    for stream in out err; do
        crs=$(tr -cd '\r' <"$E2E/win.$stream" | wc -c)
        [ "$crs" -eq 0 ] || PROBLEMS+=("$crs carriage returns in standard $stream")
    done
    [ -s "$E2E/win.out" ] || [ -s "$E2E/win.err" ] || PROBLEMS+=("no output at all")
}

# 30000 frames: the frame lines of the sample hex capture, over and over.
write_many_frames() {
    grep -v '^#' "$CAPTURES/hex-frames.txt" | grep -v '^$' |
        awk '{ line[NR] = $0 } END { for (i = 0; i < 30000 && i < 5000 * NR; ++i) print line[i % NR + 1] }' \
            >"$E2E/frames-30000.txt"
}

prepare_inputs
PROBLEMS=()
DEFAULT_JSONL='{"source":"default-frame.txt:1","input":"C004C9BA71753000","outcome":"decoded","ack":13,"multiturn":0,"position":26440930,"count":26440930,"error":false,"warning":false,"crc_received":42,"crc_calculated":21,"crc_ok":true,"truncated":false,"cds":0}'
Z_DIR="Z:${E2E//\//\\}"

case $CHECK in
version-record)
    DESCRIPTION="version record $VERSION, description, file name and manifest"
    check_version_record
    ;;
default-frame-jsonl)
    DESCRIPTION="default frame C004C9BA71753000: decoded, crc_ok true (JSON Lines)"
    WANT_OUT=$DEFAULT_JSONL expect_same 0 --format jsonl default-frame.txt
    ;;
default-frame-csv)
    DESCRIPTION="default frame, CSV, exit status 0"
    expect_same 0 default-frame.txt
    ;;
version)
    DESCRIPTION="--version"
    expect_same 0 --version
    ;;
help)
    DESCRIPTION="--help"
    expect_same 0 --help
    ;;
capture.*)
    name=${CHECK#capture.}
    [ -e "$E2E/captures/$name" ] || {
        echo "error: no capture $name in $CAPTURES" >&2
        exit 2
    }
    args=()
    case $name in
    # No frame boundary in the input (tests/data/captures/README.md).
    binary-frames.bin | saleae-spi-nopacket.csv | sigrok-data.txt | hexdump-frames.txt | xxd-frames.txt | pulseview-data.txt) args=(--frame-bytes 8) ;;
    esac
    # A binary export names its channels digital_N: the clock and the data line by number.
    [ -d "$E2E/captures/$name" ] && args=(--clock 0 --data 1)
    if [ "$name" = saleae-table-ascii.csv ]; then
        # Refused with a message: the ASCII radix cannot be read back.
        DESCRIPTION="captures/$name, CR LF: refused, the same message"
        expect_same 2 "${args[@]}" "captures/$name"
    else
        DESCRIPTION="captures/$name, CR LF: the same records"
        expect_same '[01]' "${args[@]}" "captures/$name"
        grep -q ',decoded,' "$E2E/win.out" || PROBLEMS+=("no decoded frame in the output")
    fi
    ;;
name-csv)
    DESCRIPTION="name with blanks and letters outside code page 1252: $UNICODE_NAME (CSV)"
    expect_same 1 "$UNICODE_NAME"
    grep -qF "$UNICODE_NAME:1,C004C9BA71753000,decoded" "$E2E/win.out" ||
        PROBLEMS+=("source column in UTF-8: $UNICODE_NAME:1 is not in the records of corvane-decode.exe")
    ;;
name-jsonl)
    DESCRIPTION="the name $UNICODE_NAME, JSON Lines"
    expect_same 1 --format jsonl "$UNICODE_NAME"
    ;;
name-table)
    DESCRIPTION="the name $UNICODE_NAME, table (column width in characters)"
    expect_same 1 --format table "$UNICODE_NAME"
    ;;
console)
    DESCRIPTION="console (Wine's): a table with the name $UNICODE_NAME"
    check_console
    ;;
folder-unicode)
    DESCRIPTION="folder outside the ANSI code page: $UNICODE_DIR/frames.txt"
    expect_same 1 "$UNICODE_DIR/frames.txt"
    ;;
folder-backslash)
    DESCRIPTION="the same with a backslash: $UNICODE_DIR\\frames.txt"
    expect_source 1 "$UNICODE_DIR\\frames.txt" "$UNICODE_DIR/frames.txt"
    ;;
path-drive-backslash)
    DESCRIPTION="drive letter and backslashes: Z:\\...\\captures\\hex-frames.txt"
    expect_source 1 "$Z_DIR\\captures\\hex-frames.txt" captures/hex-frames.txt
    ;;
path-drive-slash)
    DESCRIPTION="drive letter and slashes: Z:/.../captures/hex-frames.txt"
    expect_source 1 "Z:$E2E/captures/hex-frames.txt" captures/hex-frames.txt
    ;;
path-relative-backslash)
    DESCRIPTION='relative with a backslash: captures\hex-frames.txt'
    expect_source 1 'captures\hex-frames.txt' captures/hex-frames.txt
    ;;
path-root)
    DESCRIPTION="from the drive's root, beginning with a slash: $E2E/captures/hex-frames.txt"
    expect_same 1 "$E2E/captures/hex-frames.txt"
    ;;
stdin-file)
    DESCRIPTION="standard input from a file"
    STDIN=$E2E/captures/hex-frames.txt expect_same 1 --format jsonl
    ;;
stdin-dash)
    DESCRIPTION="standard input named -"
    STDIN=$E2E/captures/hex-frames.txt expect_same 1 -
    ;;
stdin-pipe)
    DESCRIPTION="standard input from a pipe"
    PIPE=1 STDIN=$E2E/captures/saleae-table.csv expect_same 1
    ;;
stdin-ctrl-z)
    DESCRIPTION="standard input read in binary: a 0x1A byte does not end it"
    STDIN=$E2E/ctrl-z.txt expect_same 1 --input hex
    grep -q '^-:3,C0040000007D3000,decoded' "$E2E/win.out" ||
        PROBLEMS+=("the frame after the 0x1A byte is missing from the records of corvane-decode.exe")
    ;;
exit-bad-crc)
    DESCRIPTION="exit status 1: a bad CRC"
    expect_same 1 bad-crc.txt
    ;;
exit-no-frames)
    DESCRIPTION="exit status 1: no frames"
    expect_same 1 empty.txt
    ;;
exit-threads-0)
    DESCRIPTION="exit status 2: usage error (--threads 0)"
    expect_same 2 --threads 0 default-frame.txt
    ;;
exit-unknown-option)
    DESCRIPTION="exit status 2: unknown option"
    expect_same 2 --bogus default-frame.txt
    ;;
exit-missing-file)
    DESCRIPTION="exit status 2: a file that does not exist"
    expect_same 2 default-frame.txt missing.txt
    ;;
exit-folder)
    DESCRIPTION="exit status 2: a folder given as the file"
    expect_same 2 folder
    ;;
crlf-frames)
    DESCRIPTION="no carriage return added: corvane-decode.exe captures/hex-frames-crlf.txt"
    check_no_cr captures/hex-frames-crlf.txt
    ;;
crlf-help)
    DESCRIPTION="no carriage return added: corvane-decode.exe --help"
    check_no_cr --help
    ;;
crlf-bogus)
    DESCRIPTION="no carriage return added: corvane-decode.exe --bogus"
    check_no_cr --bogus
    ;;
crlf-summary)
    DESCRIPTION="no carriage return added: corvane-decode.exe --summary captures/csv-frames.csv"
    check_no_cr --summary captures/csv-frames.csv
    ;;
threads)
    DESCRIPTION="--threads 2 over 30000 frames, records in input order"
    write_many_frames
    [ "$(wc -l <"$E2E/frames-30000.txt")" -eq 30000 ] || PROBLEMS+=("the input has not 30000 frames")
    expect_same 1 --threads 2 "$E2E/frames-30000.txt"
    ;;
*)
    echo "error: no check named $CHECK" >&2
    exit 2
    ;;
esac

report "$DESCRIPTION" "${PROBLEMS[@]}"
[ "$CHECKS_FAILED" -eq 0 ]
