#!/usr/bin/env bash
# One entry point for building Corvane on Debian 12:
#   ./build.sh run    check for a display, install what is missing, build the program alone
#                     (no tests, no benchmarks) and open the window
#   ./build.sh test   install what is missing, build with warnings as errors, run every test
#   ./build.sh asan   the same tests built with the address and undefined-behaviour sanitizers
# Missing packages are installed with apt-get as root or through sudo
# (scripts/install-missing.sh).
set -euo pipefail

cd "$(dirname "$0")"
# shellcheck source=scripts/install-missing.sh
. scripts/install-missing.sh

PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libjpeg62-turbo-dev
    fonts-wine
)
# The batch decoder corvane-decode: its option parser, libzip (zip archives among the capture
# files), and the tools that write its manual page and the manual as plain text.
CLI_PACKAGES=(libcli11-dev libzip-dev help2man groff-base bsdextrautils)
# sigrok-cli: the signal capture tests read the sessions and VCDs it converts (they say so and
# skip that check when it is missing).
TEST_PACKAGES=(googletest libgtest-dev qt6-base-private-dev nlohmann-json3-dev sigrok-cli)
JOBS=$(nproc)

usage() {
    echo "usage: $0 run|test|asan" >&2
    exit 2
}

build_preset() {
    local preset=$1
    echo "==> Configuring and building ($preset)"
    cmake --preset "$preset"
    cmake --build --preset "$preset" --parallel "$JOBS"
}

cmd=${1:-}
case "$cmd" in
run)
    # The window needs a window system; say so before spending minutes on a build.
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "error: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open." >&2
        echo "       Run this in a desktop session, or under a virtual display, which the package" >&2
        echo "       xvfb provides (apt-get install --no-install-recommends xvfb xauth):" >&2
        echo "           xvfb-run -a $0 run" >&2
        echo "       The tests need no display: $0 test" >&2
        exit 1
    fi
    install_missing "${PACKAGES[@]}" || exit 1
    echo "==> Configuring and building the program alone (default preset)"
    cmake --preset default -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF -DCORVANE_BUILD_CLI=OFF
    cmake --build --preset default --parallel "$JOBS" --target Corvane
    echo "==> Starting Corvane"
    exec build/default/src/window/Corvane
    ;;
test)
    install_missing "${PACKAGES[@]}" "${CLI_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || exit 1
    build_preset ci
    echo "==> Running the tests"
    ctest --preset ci --parallel "$JOBS"
    ;;
asan)
    install_missing "${PACKAGES[@]}" "${CLI_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || exit 1
    build_preset asan
    echo "==> Running the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    ctest --preset asan --parallel "$JOBS"
    ;;
*)
    usage
    ;;
esac
