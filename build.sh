#!/usr/bin/env bash
# One entry point for building Corvane on Debian 12:
#   ./build.sh run    install what is missing, build, open the window
#   ./build.sh test   install what is missing, build with warnings as errors, run every test
#   ./build.sh asan   the same tests built with the address and undefined-behaviour sanitizers
set -euo pipefail

cd "$(dirname "$0")"

PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libjpeg62-turbo-dev
    fonts-wine
)
TEST_PACKAGES=(googletest libgtest-dev libbenchmark-dev qt6-base-private-dev)

usage() {
    echo "usage: $0 run|test|asan" >&2
    exit 2
}

install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "==> Installing missing packages: ${missing[*]}"
    local apt=(apt-get)
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            apt=(sudo apt-get)
        else
            echo "error: these packages are missing and this user cannot install them:" >&2
            echo "         ${missing[*]}" >&2
            echo "       Install them as root (apt-get install ${missing[*]}) or install sudo." >&2
            exit 1
        fi
    fi
    "${apt[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

build_preset() {
    local preset=$1
    echo "==> Configuring and building ($preset)"
    cmake --preset "$preset"
    cmake --build --preset "$preset" --parallel "$(nproc)"
}

cmd=${1:-}
case "$cmd" in
run)
    install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build_preset default
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "error: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open." >&2
        echo "       The program is built at build/default/src/window/Corvane; run it from a desktop session," >&2
        echo "       or under a virtual display: xvfb-run build/default/src/window/Corvane" >&2
        exit 1
    fi
    echo "==> Starting Corvane"
    exec build/default/src/window/Corvane
    ;;
test)
    install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build_preset ci
    echo "==> Running the tests"
    ctest --preset ci --parallel "$(nproc)"
    ;;
asan)
    install_missing "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    build_preset asan
    echo "==> Running the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    ctest --preset asan --parallel "$(nproc)"
    ;;
*)
    usage
    ;;
esac
