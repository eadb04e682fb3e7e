#!/usr/bin/env bash
# Windows build of Corvane's parts that need no Qt, on Debian 12:
#   packaging/windows.sh
# Installs what is missing (MinGW-w64, Wine, zip; as root or through sudo), builds the
# libraries Debian ships only for the host for MinGW (packaging/windows-deps.sh: libzip into
# build/windows-deps), builds the native corvane-decode (build/ci's where ./build.sh test made
# one, else a small native build in build/windows-native) as the reference of the end-to-end
# checks, cross-builds the `windows` preset (cmake/mingw-w64-x86_64.cmake) into build/windows,
# checks that every executable needs no DLL beyond Windows' own, and runs CTest under Wine:
# the unit tests and the end-to-end checks of corvane-decode.exe against the native program
# (tests/e2e). Then it packs corvane-decode.exe, its manual as text and the licence into
# build/windows/corvane-decode-VERSION-windows-x86_64.zip, whose path is the last line
# printed. Every check prints PASS or FAIL (packaging/checks.sh); any FAIL fails the script.
# Wine runs with a private prefix inside build/windows, WINEDEBUG=-all and no display.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
PRESET=windows
BUILD_DIR=build/windows
JOBS=${JOBS:-2}

PACKAGES=(
    cmake ninja-build googletest libcli11-dev nlohmann-json3-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine64 zip unzip
    g++ help2man groff-base bsdextrautils
    libz-mingw-w64-dev libzip-dev pkg-config dpkg-dev
)
MINGW=x86_64-w64-mingw32

# shellcheck source=../scripts/install-missing.sh
. scripts/install-missing.sh
# pass, fail, report, checks_summary.
# shellcheck source=checks.sh
. packaging/checks.sh

# The cross build, told where the native reference program is (build_native_reference).
build() {
    echo "==> Configuring and building ($PRESET)"
    cmake --preset "$PRESET" -DCORVANE_NATIVE_DECODE="$NATIVE"
    cmake --build --preset "$PRESET" --parallel "$JOBS"
}

# Fails unless every executable imports only DLLs that come with Windows: no libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll or zlib1.dll that a user would have to carry along.
#   check_system_imports EXE...
check_system_imports() {
    local exe dll dlls bad=0
    echo "==> Checking that the executables need only Windows' own DLLs"
    if [ $# -eq 0 ]; then
        echo "error: no executables in $BUILD_DIR" >&2
        return 1
    fi
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

# Unit tests and end-to-end checks under Wine, through CTest. The end-to-end checks are
# registered only when the build knows the native program: their number must be the driver's,
# so that none is left out unnoticed.
run_tests() {
    local listed registered zip_tests
    echo "==> Running the unit tests and the end-to-end checks under Wine (CTest)"
    listed=$(bash tests/e2e/decode-e2e.sh --list tests/data/captures | wc -l)
    registered=$(ctest --preset "$PRESET" -N -L '^e2e$' | grep -c ' Test *#' || true)
    zip_tests=$(ctest --preset "$PRESET" -N -R '^zip\.' | grep -c ' Test *#' || true)
    local problems=()
    [ "$registered" -eq "$listed" ] ||
        problems+=("$registered end-to-end checks registered, $listed in tests/e2e/decode-e2e.sh")
    [ "$zip_tests" -gt 0 ] || problems+=("the zip tests (tests/e2e/test_zip.cpp) are not registered")
    report "CTest holds the $listed end-to-end checks and the zip tests" "${problems[@]}"
    if ctest --preset "$PRESET" --parallel "$JOBS"; then
        pass "unit tests and end-to-end checks under Wine (ctest --preset $PRESET)"
    else
        fail "unit tests and end-to-end checks under Wine (ctest --preset $PRESET)"
    fi
}

# The program's path in the build (not the copy packed into the zip), empty while there is none.
find_cli_exe() {
    find "$BUILD_DIR/src" -name corvane-decode.exe -print | head -n 1
}

# The native corvane-decode of the same sources, the reference of the end-to-end checks under
# Wine: build/ci's where ./build.sh test configured it (CI runs that first), else a build of
# the program alone. Leaves its path in NATIVE.
build_native_reference() {
    local dir=build/ci
    if [ ! -f "$dir/build.ninja" ]; then
        dir=build/windows-native
        echo "==> Building the native corvane-decode in $dir (the reference of the checks under Wine)"
        if [ ! -f "$dir/build.ninja" ]; then
            cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
                -DCORVANE_BUILD_WINDOW=OFF -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF \
                >/dev/null || return 1
        fi
    else
        echo "==> Bringing the native corvane-decode in $dir up to date (the reference of the checks under Wine)"
    fi
    cmake --build "$dir" --parallel "$JOBS" --target corvane-decode || return 1
    NATIVE=$PWD/$dir/src/cli/corvane-decode
}

# The zip with corvane-decode.exe, its manual as text and the licence at its top level, in
# the build folder; leaves its path in ZIP.
pack_zip() {
    local version txt stage listing problems=() option
    echo "==> Packing the zip"
    EXE=$(find_cli_exe)
    if [ -z "$EXE" ]; then
        echo "error: corvane-decode.exe is not in $BUILD_DIR" >&2
        return 1
    fi
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
timed packaging/windows-deps.sh || exit 1
timed build_native_reference || exit 1
timed build
shopt -s nullglob globstar
exes=("$BUILD_DIR"/src/**/*.exe "$BUILD_DIR"/tests/**/*.exe)
shopt -u globstar nullglob
if check_system_imports "${exes[@]}"; then
    pass "${#exes[@]} executables need only Windows' own DLLs"
else
    fail "the executables need DLLs beyond Windows' own"
fi
setup_wine
trap stop_wine EXIT
timed prepare_wine
timed run_tests
timed pack_zip || fail "packing the zip"
checks_summary "Windows build" || exit 1
echo "$ZIP"
