#!/usr/bin/env bash
# Builds the Debian package of Corvane on Debian 12:
#   packaging/build-deb.sh [BUILD-DIR]        (default: build/package)
# Installs the build tools that are missing (as root or through sudo, with
# scripts/install-missing.sh), makes a release build with warnings as errors and
# Debian's hardening flags (dpkg-buildflags), and runs CPack's DEB generator. The
# package is left in BUILD-DIR as corvane_<version>-1_<arch>.deb; its path is
# the last line printed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# shellcheck source=../scripts/install-missing.sh
. scripts/install-missing.sh
BUILD_DIR=${1:-build/package}
JOBS=${JOBS:-2}

PACKAGES=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libjpeg62-turbo-dev
    libcli11-dev libzip-dev help2man
    dpkg-dev file
)

install_missing "${PACKAGES[@]}" || exit 1

# Debian's compiler and linker flags, with every hardening feature (fortified functions,
# stack protector, read-only relocations bound at start-up).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
# g++ 12 reports overlapping copies that cannot happen inside libstdc++'s operator+ of a
# literal and a temporary std::string when it inlines them in C++20 (a false -Wrestrict,
# GCC bug 105329); with -Werror it would stop the release build.
CXXFLAGS="$CXXFLAGS -Wno-restrict"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

echo "==> Configuring and building a release build in $BUILD_DIR"
cmake -S . -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" \
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
