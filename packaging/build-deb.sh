#!/usr/bin/env bash
# Builds the Debian package of Corvane on Debian 12:
#   packaging/build-deb.sh [BUILD-DIR]        (default: build/package)
# Installs the build tools that are missing (as root or through sudo), makes a
# release build with warnings as errors, and runs CPack's DEB generator. The
# package is left in BUILD-DIR as corvane_<version>-1_<arch>.deb; its path is
# the last line printed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD_DIR=${1:-build/package}
JOBS=${JOBS:-2}

PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libjpeg62-turbo-dev
    dpkg-dev file
)

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "==> Installing missing packages: ${missing[*]}"
    local apt=(apt-get -o DPkg::Lock::Timeout=300)
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            apt=(sudo "${apt[@]}")
        else
            echo "error: these packages are missing and this user cannot install them: ${missing[*]}" >&2
            exit 1
        fi
    fi
    "${apt[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${PACKAGES[@]}"

echo "==> Configuring and building a release build in $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DCORVANE_WERROR=ON \
    -DCORVANE_BUILD_WINDOW=ON \
    -DCORVANE_BUILD_TESTS=OFF \
    -DCORVANE_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" --parallel "$JOBS"

echo "==> Packaging"
rm -f "$BUILD_DIR"/corvane_*.deb
(cd "$BUILD_DIR" && cpack -G DEB)

shopt -s nullglob
debs=("$BUILD_DIR"/corvane_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "error: expected one corvane_*.deb in $BUILD_DIR, found ${#debs[@]}" >&2
    exit 1
fi
echo "${debs[0]}"
