#!/usr/bin/env bash
# Libraries of the Windows build that Debian ships only for the host, built for MinGW-w64:
#   packaging/windows-deps.sh [PREFIX]
# libzip, static, from Debian's own source package of the version installed natively
# (libzip-dev), so both builds read zip archives with the same code. It links the MinGW zlib
# of libz-mingw-w64-dev, statically too. Installs into PREFIX (build/windows-deps), which the
# windows preset searches (CMAKE_PREFIX_PATH); cmake/CorvaneZip.cmake makes corvane::zip of it.
#
# The source comes with apt-get source through a private apt configuration in
# build/windows-deps-cache/apt (a deb-src line for Debian's archive, its own package lists),
# so the machine's apt sources stay as they are. Nothing but Debian's archive is read, and
# only when the cache lacks the source. A second run with the library installed does nothing.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD
PREFIX=${1:-$ROOT/build/windows-deps}
CACHE=$ROOT/build/windows-deps-cache
JOBS=${JOBS:-2}
MINGW_ROOT=/usr/x86_64-w64-mingw32

PACKAGES=(libzip-dev libz-mingw-w64-dev dpkg-dev cmake ninja-build g++-mingw-w64-x86-64-posix)
# shellcheck source=../scripts/install-missing.sh
. scripts/install-missing.sh
install_missing "${PACKAGES[@]}" || exit 1

# The source version of the native libzip: 1.7.3-1 for the binary package 1.7.3-1+b1.
LIBZIP_VERSION=$(dpkg-query -W -f='${source:Version}' libzip-dev)
UPSTREAM=${LIBZIP_VERSION%-*}
UPSTREAM=${UPSTREAM#*:}
STAMP=$PREFIX/share/corvane-libzip-$LIBZIP_VERSION

if [ -f "$STAMP" ] && [ -f "$PREFIX/lib/libzip.a" ]; then
    echo "==> libzip $LIBZIP_VERSION for Windows is in $PREFIX"
    exit 0
fi

# apt-get with a configuration of its own: the system's sources and lists are neither read
# nor written. Suites as the system's (/etc/apt/sources.list.d/debian.sources), with sources.
apt_private() {
    local dir=$CACHE/apt
    apt-get -q \
        -o "Dir::Etc::SourceList=$dir/sources.list" \
        -o "Dir::Etc::SourceParts=$dir/sources.list.d" \
        -o "Dir::State::Lists=$dir/lists" \
        -o "Dir::Cache=$dir/cache" \
        -o "APT::Sandbox::User=root" \
        "$@"
}

fetch_source() {
    local dir=$CACHE/apt codename keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial" "$CACHE/src"
    cat >"$dir/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename $codename-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main
EOF
    echo "==> Fetching Debian's source of libzip $LIBZIP_VERSION (apt-get source, private configuration)"
    apt_private update >"$CACHE/apt-update.log" 2>&1 || {
        cat "$CACHE/apt-update.log" >&2
        return 1
    }
    (cd "$CACHE/src" && apt_private source --only-source "libzip=$LIBZIP_VERSION")
}

SRC=$CACHE/src/libzip-$UPSTREAM
if [ ! -f "$SRC/CMakeLists.txt" ]; then
    rm -rf "$SRC"
    fetch_source
fi
[ -f "$SRC/CMakeLists.txt" ] || {
    echo "error: no libzip source in $SRC" >&2
    exit 1
}

# Only the library: no crypto back end (the encrypted entries of zip files are not read), no
# bzip2 or xz compression (sigrok session files use deflate), no tools, tests or manuals.
# zlib's static archive by its path: the import library libz.dll.a beside it would make the
# program need zlib1.dll.
echo "==> Building libzip $LIBZIP_VERSION for Windows (MinGW-w64, static) into $PREFIX"
BUILD=$CACHE/build-libzip-$UPSTREAM
rm -rf "$BUILD"
cmake -S "$SRC" -B "$BUILD" -G Ninja \
    --toolchain "$ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
    -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
    -DZLIB_INCLUDE_DIR="$MINGW_ROOT/include" \
    -DZLIB_LIBRARY="$MINGW_ROOT/lib/libz.a" \
    >"$CACHE/configure-libzip.log" 2>&1 || {
    cat "$CACHE/configure-libzip.log" >&2
    exit 1
}
# Its own compiler warnings (Win32 function pointers in libzip's tables) are not ours to fix:
# the log is shown only when the build fails.
nice cmake --build "$BUILD" --parallel "$JOBS" >"$CACHE/build-libzip.log" 2>&1 || {
    tail -n 60 "$CACHE/build-libzip.log" >&2
    exit 1
}
cmake --install "$BUILD" >/dev/null
mkdir -p "$(dirname "$STAMP")"
echo "libzip $LIBZIP_VERSION from Debian's source package, static, for x86_64-w64-mingw32" >"$STAMP"
echo "==> libzip $LIBZIP_VERSION for Windows installed in $PREFIX"
