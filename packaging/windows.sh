#!/usr/bin/env bash
# Windows build of Corvane's parts that need no Qt, on Debian 12:
#   packaging/windows.sh
# Installs what is missing (MinGW-w64, Wine, zip; as root or through sudo), cross-builds the
# `windows` preset (cmake/mingw-w64-x86_64.cmake) into build/windows, checks that every
# executable needs no DLL beyond Windows' own, and runs the unit tests under Wine with CTest.
# Wine runs with a private prefix inside build/windows, WINEDEBUG=-all and no display.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
PRESET=windows
BUILD_DIR=build/windows
JOBS=${JOBS:-2}

PACKAGES=(
    cmake ninja-build googletest
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 zip
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
# The command-line decoder is not built yet. Its end-to-end runs under Wine and the zip go into
# the two functions below; until they are written, a build that has the program fails here
# rather than passing without having run it.

# The program's path in the build, empty while there is none.
find_cli_exe() {
    find "$BUILD_DIR" -path "$BUILD_DIR/wineprefix" -prune -o -name corvane-decode.exe -print |
        head -n 1
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

# End-to-end runs of corvane-decode.exe under Wine (not written yet).
run_end_to_end() {
    if [ -n "$(find_cli_exe)" ]; then
        echo "error: $(find_cli_exe) is built, but its end-to-end runs under Wine are not" >&2
        echo "       written yet (packaging/windows.sh, run_end_to_end)" >&2
        exit 1
    fi
    echo "==> End-to-end runs of corvane-decode.exe: none, the program is not built yet"
}

# The zip with corvane-decode.exe, its manual and the licence; prints its path last (not
# written yet).
pack_zip() {
    if [ -n "$(find_cli_exe)" ]; then
        echo "error: $(find_cli_exe) is built, but packing it is not written yet" >&2
        echo "       (packaging/windows.sh, pack_zip)" >&2
        exit 1
    fi
    echo "==> Zip: none, corvane-decode.exe is not built yet"
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
timed run_end_to_end
timed pack_zip
