#!/usr/bin/env bash
# Windows build of Corvane's parts that need no Qt, on Debian 12:
#   packaging/windows.sh
# Installs what is missing (MinGW-w64, Wine, zip; as root or through sudo), cross-builds the
# `windows` preset (cmake/mingw-w64-x86_64.cmake) into build/windows, checks that every
# executable needs no DLL beyond Windows' own, and runs the unit tests under Wine with CTest.
# Then it runs corvane-decode.exe end to end under Wine, comparing each run with the native
# corvane-decode on the same input (build/ci's where ./build.sh test made one, else a small
# native build in build/windows-native), and packs corvane-decode.exe, its manual as text and
# the licence into build/windows/corvane-decode-VERSION-windows-x86_64.zip, whose path is the
# last line printed. Every check prints PASS or FAIL (the console check SKIP where no
# pseudo-terminal can be opened); any FAIL fails the script.
# Wine runs with a private prefix inside build/windows, WINEDEBUG=-all and no display.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
PRESET=windows
BUILD_DIR=build/windows
JOBS=${JOBS:-2}

PACKAGES=(
    cmake ninja-build googletest libcli11-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 zip unzip
    g++ help2man groff-base bsdextrautils
)
MINGW=x86_64-w64-mingw32

# shellcheck source=../scripts/install-missing.sh
. scripts/install-missing.sh

build() {
    echo "==> Configuring and building ($PRESET)"
    cmake --preset "$PRESET"
    cmake --build --preset "$PRESET" --parallel "$JOBS"
}

# Fails unless every executable imports only DLLs that come with Windows: no libstdc++-6.dll,
# libgcc_s_seh-1.dll or libwinpthread-1.dll that a user would have to carry along.
#   check_system_imports EXE...
check_system_imports() {
    local exe dll dlls bad=0
    for exe in "$@"; do
        dlls=$("$MINGW-objdump" -p "$exe" | sed -n 's/^\tDLL Name: //p')
        echo "    ${exe#"$BUILD_DIR"/}: ${dlls//$'\n'/ }"
        for dll in $dlls; do
            case "${dll,,}" in
            kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | \
                ole32.dll | oleaut32.dll | ws2_32.dll | bcrypt.dll | ntdll.dll | shlwapi.dll | \
                version.dll | api-ms-win-*.dll) ;;
            *)
                echo "error: ${exe#"$BUILD_DIR"/} needs $dll, which does not come with Windows" >&2
                bad=1
                ;;
            esac
        done
    done
    return "$bad"
}

# The Wine settings of the CTest emulator (cmake/mingw-w64-x86_64.cmake), for the runs this
# script makes itself: the same loader and prefix, read from the build's cache.
setup_wine() {
    local cache=$BUILD_DIR/CMakeCache.txt
    WINE=$(sed -n 's/^CORVANE_WINE:FILEPATH=//p' "$cache")
    export WINEPREFIX
    WINEPREFIX=$(sed -n 's/^CORVANE_WINEPREFIX:PATH=//p' "$cache")
    export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8
    if [ -z "$WINE" ] || [ ! -x "$WINE" ] || [ -z "$WINEPREFIX" ]; then
        echo "error: the build found no Wine loader (CORVANE_WINE in $cache);" >&2
        echo "       Debian's wine64 installs it as /usr/lib/wine/wine64." >&2
        exit 1
    fi
    WINESERVER=$(dirname "$WINE")/wineserver
}

# Creates the prefix before the tests, so that its one-time cost (some seconds) is not taken
# inside a test's time limit, and keeps its wineserver and Wine's services running until
# stop_wine. Left to themselves they end a few seconds after the last program and start again
# with the next one, holding its output open meanwhile; CTest waits for that output to close,
# which made the unit tests take about 11 s instead of 3 s here. So the services are started
# here, with output that nobody waits for, and stay up: a service started inside a CTest run
# of a persistent server would keep that test's output open until its time limit.
prepare_wine() {
    local log=$BUILD_DIR/wineboot.log
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "==> Creating the Wine prefix $WINEPREFIX"
        if ! timeout 300 "$WINE" wineboot --init </dev/null >"$log" 2>&1; then
            cat "$log" >&2
            echo "error: wineboot --init failed" >&2
            exit 1
        fi
    fi
    # The server that wineboot left running ends by itself first: one cannot be made
    # persistent after its start.
    timeout 60 "$WINESERVER" -w
    "$WINESERVER" -p
    if ! timeout 120 "$WINE" cmd /c exit </dev/null >>"$log" 2>&1; then
        cat "$log" >&2
        echo "error: Wine does not start programs in $WINEPREFIX" >&2
        exit 1
    fi
}

# Ends the prefix's wineserver, and with it Wine's services, so that no Wine process outlives
# the script.
stop_wine() {
    if [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k 2>/dev/null || true
        timeout 60 "$WINESERVER" -w || true
    fi
}

run_unit_tests() {
    echo "==> Running the unit tests under Wine"
    ctest --preset "$PRESET" --parallel "$JOBS"
}

# --- corvane-decode.exe ------------------------------------------------------------------

# The program's path in the build (not the copy packed into the zip), empty while there is none.
find_cli_exe() {
    find "$BUILD_DIR/src" -name corvane-decode.exe -print | head -n 1
}

# Fails unless EXE carries the version record of res/corvane-decode.rc with this description,
# the project's version and its own file name, and the console manifest.
#   check_version_record EXE DESCRIPTION VERSION
check_version_record() {
    local exe=$1 description=$2 version=$3 rc line bad=0
    rc=$("$MINGW-windres" -i "$exe" -O rc) || return 1
    for line in "FILEVERSION ${version//./, }" "VALUE \"FileDescription\", \"$description\"" \
        "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductName\", \"Corvane\"" \
        "VALUE \"OriginalFilename\", \"$(basename "$exe")\"" 'RT_MANIFEST' 'longPathAware'; do
        if ! grep -qF "$line" <<<"$rc"; then
            echo "error: the resources of $exe lack: $line" >&2
            bad=1
        fi
    done
    return "$bad"
}

# The native corvane-decode of the same sources, the reference for the runs under Wine: build/ci's
# where ./build.sh test configured it (CI runs that first), else a build of the program alone.
build_native_reference() {
    local dir=build/ci
    if [ ! -f "$dir/build.ninja" ]; then
        dir=build/windows-native
        echo "==> Building the native corvane-decode in $dir (the reference of the runs under Wine)"
        if [ ! -f "$dir/build.ninja" ]; then
            cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
                -DCORVANE_BUILD_WINDOW=OFF -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF \
                >/dev/null || return 1
        fi
    else
        echo "==> Bringing the native corvane-decode in $dir up to date (the reference of the runs under Wine)"
    fi
    cmake --build "$dir" --parallel "$JOBS" --target corvane-decode || return 1
    NATIVE=$PWD/$dir/src/cli/corvane-decode
}

E2E_FAILED=0
E2E_PASSED=0
E2E_SKIPPED=0

# report NAME [PROBLEM...]: PASS without problems, else FAIL and the problems.
report() {
    local name=$1
    shift
    if [ $# -eq 0 ]; then
        echo "    PASS  $name"
        E2E_PASSED=$((E2E_PASSED + 1))
    else
        echo "    FAIL  $name"
        printf '            %s\n' "$@"
        E2E_FAILED=$((E2E_FAILED + 1))
    fi
}

# run_in TAG PROGRAM [ARG...]: runs the program in $E2E with standard input from the file
# $STDIN (empty when unset; through a pipe when PIPE=1), output in $E2E/TAG.out and
# $E2E/TAG.err; leaves the exit status in $RUN_STATUS (not
# $status: timed has a local of that name).
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

# The first differing lines of the two programs' output STREAM (out or err), ^M for a CR.
show_difference() {
    diff "$E2E/native.$1" "$E2E/win.$1" | head -n 6 | cat -v
}

# expect_same NAME STATUS [ARG...]: runs the native program and corvane-decode.exe with the
# same arguments (and the same $STDIN); both must exit with STATUS (a pattern: [01] for either)
# and write the same bytes to standard output and to standard error. With WANT_OUT set, the
# standard output must also be exactly that text.
expect_same() {
    local name=$1 want=$2 native_status problems=()
    shift 2
    run_in native "$NATIVE" "$@"
    native_status=$RUN_STATUS
    run_in win "$WINE" "$EXE" "$@"
    # shellcheck disable=SC2053 # STATUS is a pattern
    [[ $native_status == $want ]] || problems+=("the native program exited with $native_status, not $want")
    # shellcheck disable=SC2053
    [[ $RUN_STATUS == $want ]] || problems+=("corvane-decode.exe exited with $RUN_STATUS, not $want")
    [ "$RUN_STATUS" = "$native_status" ] || problems+=("exit statuses differ: $native_status native, $RUN_STATUS under Wine")
    if ! cmp -s "$E2E/native.out" "$E2E/win.out"; then
        problems+=("standard output differs from the native program's (< native, > Wine):")
        mapfile -t -O ${#problems[@]} problems < <(show_difference out)
    fi
    if ! cmp -s "$E2E/native.err" "$E2E/win.err"; then
        problems+=("standard error differs from the native program's (< native, > Wine):")
        mapfile -t -O ${#problems[@]} problems < <(show_difference err)
    fi
    if [ -n "${WANT_OUT+set}" ] && [ "$(cat "$E2E/win.out")" != "$WANT_OUT" ]; then
        problems+=("standard output is not the expected text:" "$(head -c 400 "$E2E/win.out" | cat -v)")
    fi
    report "$name" "${problems[@]}"
}

# expect_source NAME STATUS WINDOWS_NAME NATIVE_NAME [ARG...]: the same input named one way for
# corvane-decode.exe and another for the native program; the Windows program's CSV records
# must be the native ones with WINDOWS_NAME as their source.
expect_source() {
    local name=$1 want=$2 win_name=$3 native_name=$4 native_status expected problems=()
    shift 4
    run_in native "$NATIVE" "$@" "$native_name"
    native_status=$RUN_STATUS
    run_in win "$WINE" "$EXE" "$@" "$win_name"
    expected=$(cat "$E2E/native.out")
    expected=${expected//$'\n'"$native_name:"/$'\n'"$win_name:"}
    [ "$native_status" = "$want" ] || problems+=("the native program exited with $native_status, not $want")
    [ "$RUN_STATUS" = "$want" ] || problems+=("corvane-decode.exe exited with $RUN_STATUS, not $want")
    N="$win_name:" awk 'index($0, ENVIRON["N"]) == 1 { found = 1 } END { exit !found }' \
        "$E2E/win.out" || problems+=("no record has the source $win_name:LINE (in UTF-8)")
    if [ "$(cat "$E2E/win.out")" != "$expected" ]; then
        problems+=("the records differ from the native ones with the name replaced:"
            "$(diff <(printf '%s\n' "$expected") "$E2E/win.out" | head -n 6 | cat -v)")
    fi
    report "$name" "${problems[@]}"
}

# Each text capture of tests/data/captures with CR LF line ends (the binary one as it is).
check_captures() {
    local src name args count
    echo "  sample captures of every format, CR LF line ends:"
    mkdir -p "$E2E/captures"
    for src in tests/data/captures/*; do
        name=${src##*/}
        case $name in
        README.md) continue ;;
        *.bin) cp "$src" "$E2E/captures/$name" ;;
        *) sed 's/\r$//; s/$/\r/' "$src" >"$E2E/captures/$name" ;;
        esac
        args=()
        case $name in
        # No frame boundary in the input (tests/data/captures/README.md).
        binary-frames.bin | saleae-spi-nopacket.csv | sigrok-data.txt) args=(--frame-bytes 8) ;;
        esac
        if [ "$name" = saleae-table-ascii.csv ]; then
            # Refused with a message: the ASCII radix cannot be read back.
            expect_same "captures/$name: refused, the same message" 2 "${args[@]}" "captures/$name"
        else
            expect_same "captures/$name" '[01]' "${args[@]}" "captures/$name"
            count=$(grep -c ',decoded,' "$E2E/win.out" || true)
            [ "$count" -gt 0 ] || report "captures/$name: decoded frames" "none in the output"
        fi
    done
}

# check_console NAME: corvane-decode.exe on a console, Wine's console on a pseudo-terminal made
# by script(1): a table (the format for a terminal) whose source column shows NAME. The program
# writes to a console with WriteConsoleW; bytes written there would be shown in the console's
# code page (437 here), so a name outside ASCII would come out garbled.
check_console() {
    local name=$1 shown problems=()
    if ! script -qefc true /dev/null </dev/null >/dev/null 2>&1; then
        echo "    SKIP  console (Wine's): script(1) cannot open a pseudo-terminal here"
        E2E_SKIPPED=$((E2E_SKIPPED + 1))
        return
    fi
    RUN_STATUS=0
    (cd "$E2E" && timeout 120 script -qefc "$(printf '%q ' "$WINE" "$EXE" "$name")" /dev/null \
        </dev/null >"$E2E/console.raw" 2>&1) || RUN_STATUS=$?
    # Without the terminal's control sequences and carriage returns.
    shown=$(sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$E2E/console.raw" | tr -d '\r')
    [ "$RUN_STATUS" = 1 ] || problems+=("exit status $RUN_STATUS, not 1")
    [[ $shown == source\ * ]] || problems+=("not a table: $(head -c 200 <<<"$shown" | cat -v)")
    N="$name:1 " awk 'index($0, ENVIRON["N"]) == 1 { found = 1 } END { exit !found }' <<<"$shown" ||
        problems+=("no line begins with $name:1; the console showed:" "$(cat -v <<<"$shown" | head -n 5)")
    report "console (Wine's): a table with the name $name" "${problems[@]}"
}

# The end-to-end runs of corvane-decode.exe under Wine, each against the native program.
run_end_to_end() {
    local version name z_dir frames i
    EXE=$(find_cli_exe)
    if [ -z "$EXE" ]; then
        echo "error: corvane-decode.exe is not in $BUILD_DIR" >&2
        return 1
    fi
    EXE=$PWD/$EXE
    echo "==> End-to-end runs of ${EXE#"$PWD/"} under Wine"
    # The physical path: Wine's drive Z: is the root of the physical file system.
    E2E=$(pwd -P)/$BUILD_DIR/e2e
    rm -rf "$E2E"
    mkdir -p "$E2E"

    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
    local problems=()
    check_version_record "$EXE" "Corvane BiSS-C frame decoder" "$version" 2>"$E2E/version.err" ||
        mapfile -t problems <"$E2E/version.err"
    report "version record $version, description, file name and manifest" "${problems[@]}"

    echo "  the default frame, versions and help:"
    printf 'C004C9BA71753000\n' >"$E2E/default-frame.txt"
    WANT_OUT='{"source":"default-frame.txt:1","input":"C004C9BA71753000","outcome":"decoded","ack":13,"multiturn":0,"position":26440930,"count":26440930,"error":false,"warning":false,"crc_received":42,"crc_calculated":21,"crc_ok":true,"truncated":false,"cds":0}' \
        expect_same "default frame C004C9BA71753000: decoded, crc_ok true (JSON Lines)" 0 \
        --format jsonl default-frame.txt
    expect_same "default frame, CSV, exit status 0" 0 default-frame.txt
    expect_same "--version" 0 --version
    expect_same "--help" 0 --help

    check_captures

    echo "  file names:"
    name='främes € Ωμέγα 測定.txt' # Latin-1, code page 1252 only (€), Greek, CJK
    printf 'C004C9BA71753000\r\nC0055555556AB000\r\n' >"$E2E/$name"
    expect_same "name with blanks and letters outside code page 1252: $name (CSV)" 1 "$name"
    grep -qF "$name:1,C004C9BA71753000,decoded" "$E2E/win.out" ||
        report "source column in UTF-8: $name:1" "not in the records of corvane-decode.exe"
    expect_same "the same name, JSON Lines" 1 --format jsonl "$name"
    expect_same "the same name, table (column width in characters)" 1 --format table "$name"
    check_console "$name"
    mkdir -p "$E2E/測定 Ωμέγα"
    cp "$E2E/captures/hex-frames-crlf.txt" "$E2E/測定 Ωμέγα/frames.txt"
    expect_same "folder outside the ANSI code page: 測定 Ωμέγα/frames.txt" 1 "測定 Ωμέγα/frames.txt"
    expect_source 'the same with a backslash: 測定 Ωμέγα\frames.txt' 1 \
        '測定 Ωμέγα\frames.txt' '測定 Ωμέγα/frames.txt'

    echo "  paths:"
    z_dir="Z:${E2E//\//\\}"
    expect_source "drive letter and backslashes: Z:\\...\\e2e\\captures\\hex-frames.txt" 1 \
        "$z_dir\\captures\\hex-frames.txt" captures/hex-frames.txt
    expect_source "drive letter and slashes: Z:/.../e2e/captures/hex-frames.txt" 1 \
        "Z:$E2E/captures/hex-frames.txt" captures/hex-frames.txt
    expect_source 'relative with a backslash: captures\hex-frames.txt' 1 \
        'captures\hex-frames.txt' captures/hex-frames.txt
    expect_same "from the drive's root, beginning with a slash: $E2E/captures/hex-frames.txt" 1 \
        "$E2E/captures/hex-frames.txt"

    echo "  standard input:"
    STDIN=$E2E/captures/hex-frames.txt expect_same "standard input from a file" 1 --format jsonl
    STDIN=$E2E/captures/hex-frames.txt expect_same "standard input named -" 1 -
    PIPE=1 STDIN=$E2E/captures/saleae-table.csv expect_same "standard input from a pipe" 1
    printf 'C004C9BA71753000\r\n\x1a\r\nC0040000007D3000\r\n' >"$E2E/ctrl-z.txt"
    STDIN=$E2E/ctrl-z.txt expect_same "standard input read in binary: a 0x1A byte does not end it" 1 \
        --input hex
    grep -q '^-:3,C0040000007D3000,decoded' "$E2E/win.out" ||
        report "the frame after the 0x1A byte" "missing from the records of corvane-decode.exe"

    echo "  exit statuses and messages:"
    printf 'C0055555556AB000\n' >"$E2E/bad-crc.txt"
    : >"$E2E/empty.txt"
    mkdir -p "$E2E/folder"
    expect_same "1: a bad CRC" 1 bad-crc.txt
    expect_same "1: no frames" 1 empty.txt
    expect_same "2: usage error (--threads 0)" 2 --threads 0 default-frame.txt
    expect_same "2: unknown option" 2 --bogus default-frame.txt
    expect_same "2: a file that does not exist" 2 default-frame.txt missing.txt
    expect_same "2: a folder given as the file" 2 folder

    echo "  line ends (standard streams in binary mode):"
    local stream file crs problems
    for file in "captures/hex-frames-crlf.txt" "--help" "--bogus" "--summary captures/csv-frames.csv"; do
        # shellcheck disable=SC2086 # the words are the arguments
        run_in win "$WINE" "$EXE" $file
        problems=()
        for stream in out err; do
            crs=$(tr -cd '\r' <"$E2E/win.$stream" | wc -c)
            [ "$crs" -eq 0 ] || problems+=("$crs carriage returns in standard $stream")
        done
        [ -s "$E2E/win.out" ] || [ -s "$E2E/win.err" ] || problems+=("no output at all")
        report "no carriage return added: corvane-decode.exe $file" "${problems[@]}"
    done

    echo "  threads:"
    frames=$E2E/frames-30000.txt
    for ((i = 0; i < 5000; i++)); do
        grep -v '^#' tests/data/captures/hex-frames.txt | grep -v '^$'
    done | head -n 30000 >"$frames"
    expect_same "--threads 2 over 30000 frames, records in input order" 1 --threads 2 "$frames"

    echo "  $E2E_PASSED passed, $E2E_FAILED failed, $E2E_SKIPPED skipped"
    [ "$E2E_FAILED" -eq 0 ]
}

# The zip with corvane-decode.exe, its manual as text and the licence at its top level, in
# the build folder; leaves its path in ZIP.
pack_zip() {
    local version txt stage listing problems=() option
    echo "==> Packing the zip"
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION_\(MAJOR\|MINOR\|PATCH\):STATIC=//p' \
        "$BUILD_DIR/CMakeCache.txt" | paste -sd.)
    txt=$BUILD_DIR/src/cli/corvane-decode.txt
    if [ ! -f "$txt" ]; then
        echo "error: $txt is missing: the build makes it with help2man, groff and col" >&2
        return 1
    fi
    ZIP=$PWD/$BUILD_DIR/corvane-decode-$version-windows-x86_64.zip
    stage=$BUILD_DIR/zip
    rm -rf "$stage" "$ZIP"
    mkdir -p "$stage"
    cp "$EXE" "$txt" "$stage/"
    # CR LF, as the manual: every Windows editor shows the lines.
    sed 's/\r$//; s/$/\r/' LICENSE >"$stage/LICENSE.txt"
    (cd "$stage" && zip -q -X -9 "$ZIP" corvane-decode.exe corvane-decode.txt LICENSE.txt) || return 1

    listing=$(unzip -Z1 "$ZIP" | sort | paste -sd' ')
    [ "$listing" = "LICENSE.txt corvane-decode.exe corvane-decode.txt" ] ||
        problems+=("it holds: $listing")
    unzip -p "$ZIP" corvane-decode.exe | cmp -s - "$EXE" ||
        problems+=("its corvane-decode.exe is not the one tested")
    report "zip listing: LICENSE.txt, corvane-decode.exe, corvane-decode.txt at the top level" \
        "${problems[@]}"

    # The manual came from the Windows program's --help and --version under Wine.
    problems=()
    head -n 1 "$txt" | grep -q '^CORVANE-DECODE(1)' || problems+=("it does not begin as the manual page")
    grep -q "^Corvane $version " "$txt" || problems+=("the footer with the version $version is missing")
    ! grep -qi 'wine' "$txt" || problems+=("Wine's messages are in it: $(grep -i -m 1 wine "$txt")")
    for option in $("$NATIVE" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" "$txt" || problems+=("the option $option is missing")
    done
    [ "$(tr -cd '\r' <"$txt" | wc -c)" -eq "$(wc -l <"$txt")" ] || problems+=("not all lines end in CR LF")
    report "corvane-decode.txt: the manual of this version with every option, CR LF" "${problems[@]}"
    [ "$E2E_FAILED" -eq 0 ]
}

# -------------------------------------------------------------------------------------------

# Runs a step and says how long it took, so that CI logs show what the Windows build costs.
timed() {
    local start=$SECONDS status=0
    "$@" || status=$?
    echo "    ($1: $((SECONDS - start)) s)"
    return "$status"
}

timed install_missing "${PACKAGES[@]}" || exit 1
timed build
echo "==> Checking that the executables need only Windows' own DLLs"
shopt -s nullglob globstar
exes=("$BUILD_DIR"/src/**/*.exe "$BUILD_DIR"/tests/**/*.exe)
shopt -u globstar
if [ ${#exes[@]} -eq 0 ]; then
    echo "error: no executables in $BUILD_DIR" >&2
    exit 1
fi
check_system_imports "${exes[@]}"
setup_wine
trap stop_wine EXIT
timed prepare_wine
timed run_unit_tests
timed build_native_reference
timed run_end_to_end
timed pack_zip
echo "$ZIP"
