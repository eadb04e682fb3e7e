#!/usr/bin/env bash
# Packaging checks, run by .ci/run after the tests (Debian 12, as root):
#   1. the desktop entries and AppStream metainfo of Corvane and corvane-view,
#      corvane-view's MIME types and the Windows manifest are valid;
#   2. the Debian package builds (packaging/build-deb.sh into build/package) with
#      the expected name, section, description, dependencies and files, and
#      lintian finds neither an error nor a warning in it;
#   3. the Windows resource script compiles with the MinGW resource compiler,
#      with the manifest for GNU toolchains and without it for MSVC;
#   4. the package installs with dpkg -i, the installed Corvane starts under
#      xvfb-run, shows its window and ends with exit code 0 when it is closed,
#      and started without a display it says so and ends with exit code 1;
#      corvane-decode decodes; the shared MIME database maps .sr and .vcd files
#      to corvane-view's types; corvane-view writes a plot without a display,
#      and opens a capture under xvfb-run and ends with exit code 0 when closed;
#   5. the package is removed again, leaving the machine as it was (the MIME
#      type that only corvane-view declares is gone again).
# Prints one PASS or FAIL line per check and exits non-zero if any failed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD_DIR=build/package
APP_ID=app.corvane.Corvane
VIEW_ID=app.corvane.View
VIEW_MIME=corvane-view-mime.xml
LOG_DIR=$(mktemp -d)
installed=0

# pass, fail, report, run_check, expect, checks_summary.
# shellcheck source=checks.sh
. packaging/checks.sh

# A failure after which nothing further can be checked.
fatal() {
    fail "$*"
    echo "packaging checks: stopped, $CHECKS_FAILED failed"
    exit 1
}

# dpkg and apt-get wait for the package database lock, which another apt run
# on the machine may hold for a while, instead of failing at once.
APT_LOCK_WAIT=300
APT_GET=(apt-get -o "DPkg::Lock::Timeout=$APT_LOCK_WAIT")
dpkg_waiting() {
    local deadline=$((SECONDS + APT_LOCK_WAIT)) out rc
    while :; do
        rc=0
        out=$(timeout 300 dpkg "$@" 2>&1) || rc=$?
        if [ "$rc" -ne 0 ] && grep -qE 'lock was locked|is locked by another' <<<"$out" \
            && [ $SECONDS -lt $deadline ]; then
            sleep 2
            continue
        fi
        printf '%s\n' "$out"
        return "$rc"
    done
}

cleanup() {
    if [ "$installed" -eq 1 ] && dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q 'installed'; then
        echo "==> Removing the corvane package"
        dpkg_waiting -r corvane >/dev/null 2>&1 || echo "FAIL: dpkg -r corvane"
    fi
    rm -rf "$LOG_DIR"
}
trap cleanup EXIT

# --- Tools -----------------------------------------------------------------
# shellcheck source=../scripts/install-missing.sh
. scripts/install-missing.sh
TOOLS=(
    desktop-file-utils appstream libxml2-utils lintian
    binutils-mingw-w64-x86-64 cpp dpkg-dev file
    xvfb xauth xdotool x11-utils python3 libfile-mimeinfo-perl
)
install_missing "${TOOLS[@]}" || fatal "installing ${TOOLS[*]}"

# --- 1. Metadata validators -------------------------------------------------
echo "==> Validating the desktop metadata"
run_check 60 "desktop-file-validate packaging/$APP_ID.desktop" \
    desktop-file-validate "packaging/$APP_ID.desktop" || true
run_check 60 "appstreamcli validate --no-net packaging/$APP_ID.metainfo.xml" \
    appstreamcli validate --no-net "packaging/$APP_ID.metainfo.xml" || true
run_check 60 "res/corvane.manifest is well-formed XML" xmllint --noout res/corvane.manifest || true
run_check 60 "desktop-file-validate src/view/$VIEW_ID.desktop" \
    desktop-file-validate "src/view/$VIEW_ID.desktop" || true
run_check 60 "appstreamcli validate --no-net src/view/$VIEW_ID.metainfo.xml" \
    appstreamcli validate --no-net "src/view/$VIEW_ID.metainfo.xml" || true
run_check 60 "src/view/$VIEW_MIME is well-formed XML" xmllint --noout "src/view/$VIEW_MIME" || true

# --- 2. Debian package ------------------------------------------------------
echo "==> Building the Debian package in $BUILD_DIR"
if ! timeout 2400 packaging/build-deb.sh "$BUILD_DIR" >"$LOG_DIR/build.log" 2>&1; then
    tail -n 60 "$LOG_DIR/build.log"
    fatal "packaging/build-deb.sh $BUILD_DIR"
fi
deb=$(tail -n 1 "$LOG_DIR/build.log")
[ -f "$deb" ] || fatal "no package reported by build-deb.sh"
pass "package built: $deb"

field() { dpkg-deb -f "$deb" "$1"; }
echo "    Package: $(field Package)  Version: $(field Version)  Section: $(field Section)"
echo "    Depends: $(field Depends)"
expect "package name corvane" "package name is '$(field Package)'" [ "$(field Package)" = corvane ]
expect "section electronics" "section is '$(field Section)'" [ "$(field Section)" = electronics ]
# dpkg-shlibdeps must have found the Qt and JPEG libraries the executable links;
# the platform plugins and Wine's Tahoma are named by the package itself.
# libqt6svg6: corvane-view writes SVG plots.
for dep in libqt6widgets6 libqt6svg6 libjpeg62-turbo libstdc++6 qt6-qpa-plugins fonts-wine; do
    expect "depends on $dep" "Depends lacks $dep" grep -q "\b$dep\b" <<<"$(field Depends)"
done
expect "description names corvane-view" "Description does not name corvane-view" \
    grep -q 'corvane-view' <<<"$(field Description)"

EXPECTED_FILES=(
    ./usr/bin/Corvane
    "./usr/share/applications/$APP_ID.desktop"
    "./usr/share/metainfo/$APP_ID.metainfo.xml"
    "./usr/share/icons/hicolor/16x16/apps/$APP_ID.png"
    "./usr/share/icons/hicolor/32x32/apps/$APP_ID.png"
    "./usr/share/icons/hicolor/48x48/apps/$APP_ID.png"
    ./usr/share/doc/corvane/copyright
    ./usr/share/doc/corvane/changelog.Debian.gz
    ./usr/share/man/man1/Corvane.1.gz
    ./usr/bin/corvane-decode
    ./usr/share/man/man1/corvane-decode.1.gz
    ./usr/bin/corvane-view
    "./usr/share/applications/$VIEW_ID.desktop"
    "./usr/share/metainfo/$VIEW_ID.metainfo.xml"
    "./usr/share/mime/packages/$VIEW_MIME"
    "./usr/share/icons/hicolor/48x48/apps/$VIEW_ID.png"
    ./usr/share/man/man1/corvane-view.1.gz
)
dpkg-deb -c "$deb" | awk '{print $6}' >"$LOG_DIR/contents"
for f in "${EXPECTED_FILES[@]}"; do
    expect "package holds ${f#.}" "package lacks ${f#.}" grep -qxF "$f" "$LOG_DIR/contents"
done

# Errors and warnings fail; the accepted tags are overridden in the package
# itself, each with its reason (packaging/lintian-overrides).
echo "==> lintian $(basename "$deb")"
if lintian --fail-on error,warning --info --display-level ">=pedantic" \
    "$deb" >"$LOG_DIR/lintian.log" 2>&1; then
    pass "lintian finds no error or warning"
else
    fail "lintian $(basename "$deb")"
fi
grep -v 'running with root privileges' "$LOG_DIR/lintian.log" | sed 's/^/    /' || true

# --- 3. Windows resources ---------------------------------------------------
# The resource script takes the project's version from the header that CMake
# writes into the build tree, and finds the icon and the manifest through the
# include path, as the Windows build passes it. windres needs a C preprocessor; Debian's MinGW binutils come without
# the cross compiler, so the host's cpp stands in, told it preprocesses for
# MinGW. The second run hides __GNUC__ as MSVC's rc does: the manifest, which
# MSVC's linker merges itself, must then be left out.
echo "==> Compiling the Windows resources"
RC="$PWD/res/corvane.rc"
WINDRES=(x86_64-w64-mingw32-windres --preprocessor=cpp --preprocessor-arg=-DRC_INVOKED
    --include-dir="$BUILD_DIR/packaging" --include-dir="$PWD/res")
if run_check 60 "windres compiles $RC for MinGW" \
    "${WINDRES[@]}" --preprocessor-arg=-D__MINGW32__ -i "$RC" -O res -o "$LOG_DIR/mingw.res"; then
    x86_64-w64-mingw32-windres -i "$LOG_DIR/mingw.res" -O rc >"$LOG_DIR/mingw.rc.txt"
    expect "resources hold the icon" "resources lack the icon group" \
        grep -q 'RT_GROUP_ICON' "$LOG_DIR/mingw.rc.txt"
    expect "icon group has 2 images" "icon group does not have 2 images" \
        [ "$(grep -c 'RT_ICON \*/' "$LOG_DIR/mingw.rc.txt")" -eq 2 ]
    expect "MinGW resources hold the manifest" "MinGW resources lack the manifest (RT_MANIFEST 1)" \
        grep -q '^1 24 .*RT_MANIFEST' "$LOG_DIR/mingw.rc.txt"
    for v in 'FILEVERSION 1, 0, 0, 0' 'PRODUCTVERSION 1, 0, 0, 0' \
        'VALUE "FileVersion", "1.0.0.0"' 'VALUE "ProductVersion", "1.0.0.0"' \
        'VALUE "FileDescription", "Corvane"' 'VALUE "ProductName", "Corvane"'; do
        expect "version record: $v" "version record lacks: $v" grep -qF "$v" "$LOG_DIR/mingw.rc.txt"
    done
fi
if run_check 60 "windres compiles $RC as MSVC would see it" \
    "${WINDRES[@]}" --preprocessor-arg=-U__GNUC__ -i "$RC" -O res -o "$LOG_DIR/msvc.res"; then
    if x86_64-w64-mingw32-windres -i "$LOG_DIR/msvc.res" -O rc | grep -q 'RT_MANIFEST'; then
        fail "MSVC resources hold the manifest twice over (the linker merges it too)"
    else
        pass "MSVC resources leave the manifest to the linker"
    fi
fi

# --- 4. Install, start, close -----------------------------------------------
# Whether the machine knew the VCD type before, for the check after the removal.
vcd_known_before=0
[ ! -e /usr/share/mime/text/x-vcd.xml ] || vcd_known_before=1

echo "==> Installing $deb"
installed=1
if ! dpkg_waiting -i "$deb" >"$LOG_DIR/dpkg.log" 2>&1; then
    echo "    dpkg -i left dependencies to resolve; running apt-get install -f"
    DEBIAN_FRONTEND=noninteractive timeout 1200 "${APT_GET[@]}" install -f -y -qq >>"$LOG_DIR/dpkg.log" 2>&1 || true
fi
if dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q 'install ok installed'; then
    pass "dpkg -i $(basename "$deb")"
else
    tail -n 30 "$LOG_DIR/dpkg.log"
    fatal "dpkg -i $(basename "$deb")"
fi

run_check 60 "desktop-file-validate on the installed desktop entry" \
    desktop-file-validate "/usr/share/applications/$APP_ID.desktop" || true
run_check 60 "appstreamcli validate --no-net on the installed metainfo" \
    appstreamcli validate --no-net "/usr/share/metainfo/$APP_ID.metainfo.xml" || true

echo "==> Starting the installed Corvane under xvfb-run"
if timeout 120 xvfb-run -a -s "-screen 0 1280x1024x24" \
    packaging/x11-start-close.sh /usr/bin/Corvane >"$LOG_DIR/xtest.log" 2>&1; then
    grep -E '^(PASS|FAIL):' "$LOG_DIR/xtest.log" || true
    pass "installed Corvane starts, shows its window and ends cleanly when closed"
else
    grep -E '^(PASS|FAIL):' "$LOG_DIR/xtest.log" || true
    echo "    --- program output ---"
    { grep -vE '^(PASS|FAIL):' "$LOG_DIR/xtest.log" || true; } | tail -n 30 | sed 's/^/    /'
    fail "start and close test of the installed Corvane"
fi

run_check 60 "installed Corvane without a display: its own message, exit code 1" \
    tests/window/no-display.sh /usr/bin/Corvane || true
# The record's last field is the frame's CDS bit, 0 here.
run_check 30 "installed corvane-decode decodes the default frame with a good CRC" \
    sh -c 'echo C004C9BA71753000 | /usr/bin/corvane-decode --format csv | grep -q ",decoded,13,0,26440930,26440930,false,false,42,21,true,false,0$"' || true
run_check 30 "installed manual page of corvane-decode reads" \
    sh -c 'man -l /usr/share/man/man1/corvane-decode.1.gz 2>/dev/null | grep -q saleae-spi || zcat /usr/share/man/man1/corvane-decode.1.gz | grep -q saleae-spi' || true

# corvane-view
run_check 60 "desktop-file-validate on the installed desktop entry of corvane-view" \
    desktop-file-validate "/usr/share/applications/$VIEW_ID.desktop" || true
run_check 60 "appstreamcli validate --no-net on the installed metainfo of corvane-view" \
    appstreamcli validate --no-net "/usr/share/metainfo/$VIEW_ID.metainfo.xml" || true
run_check 30 "installed manual page of corvane-view reads" \
    sh -c 'man -l /usr/share/man/man1/corvane-view.1.gz 2>/dev/null | grep -q export-plot || zcat /usr/share/man/man1/corvane-view.1.gz | grep -q "export\\\\-plot"' || true

# shared-mime-info's trigger has rebuilt the database from the package's MIME file by now.
mime_types=()
for f in tests/data/captures/signal-biss.sr tests/data/captures/signal-biss.vcd; do
    mime_types+=("$(timeout 30 mimetype --brief "$f" 2>&1 || true)")
done
expect "the MIME database maps a .sr file to application/vnd.sigrok.session" \
    "a .sr file is '${mime_types[0]}', not application/vnd.sigrok.session" \
    [ "${mime_types[0]}" = application/vnd.sigrok.session ]
expect "the MIME database maps a .vcd file to text/x-vcd" \
    "a .vcd file is '${mime_types[1]}', not text/x-vcd" [ "${mime_types[1]}" = text/x-vcd ]

# --export-plot needs no display: with none named and QT_QPA_PLATFORM unset, corvane-view
# chooses Qt's offscreen platform itself.
plot_dir=$(mktemp -d -p "$LOG_DIR")
if run_check 60 "installed corvane-view writes a PNG plot without a display" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/corvane-view \
        --export-plot "$plot_dir/plot.png" tests/data/captures/hex-frames.txt; then
    expect "the plot is a 1200 x 600 PNG image" "the plot is $(file -b "$plot_dir/plot.png")" \
        grep -q 'PNG image data, 1200 x 600' <<<"$(file -b "$plot_dir/plot.png")"
fi
if run_check 60 "installed corvane-view writes an SVG plot of a signal capture without a display" \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/corvane-view \
        --export-plot "$plot_dir/plot.svg" tests/data/captures/signal-biss.vcd; then
    run_check 30 "the SVG plot is well-formed XML" xmllint --noout "$plot_dir/plot.svg" || true
fi

# Opened with a capture, the window's title names the file once it has loaded it; its
# WM_CLASS is the desktop entry's StartupWMClass.
echo "==> Starting the installed corvane-view under xvfb-run"
view_class=$(sed -n 's/^StartupWMClass=//p' "/usr/share/applications/$VIEW_ID.desktop")
if WINDOW_TITLE='^hex-frames\.txt .+ corvane-view$' WINDOW_ICONS=48 \
    WINDOW_CLASS=${view_class:-StartupWMClass missing} timeout 120 \
    xvfb-run -a -s "-screen 0 1280x1024x24" packaging/x11-start-close.sh \
    /usr/bin/corvane-view tests/data/captures/hex-frames.txt >"$LOG_DIR/xtest-view.log" 2>&1; then
    grep -E '^(PASS|FAIL):' "$LOG_DIR/xtest-view.log" || true
    pass "installed corvane-view opens a capture, shows its window and ends cleanly when closed"
else
    grep -E '^(PASS|FAIL):' "$LOG_DIR/xtest-view.log" || true
    echo "    --- program output ---"
    { grep -vE '^(PASS|FAIL):' "$LOG_DIR/xtest-view.log" || true; } | tail -n 30 | sed 's/^/    /'
    fail "start and close test of the installed corvane-view"
fi

# --- 5. Removal -------------------------------------------------------------
echo "==> Removing the corvane package"
if dpkg_waiting -r corvane >"$LOG_DIR/remove.log" 2>&1 && [ ! -e /usr/bin/Corvane ]; then
    pass "dpkg -r corvane"
    installed=0
    # The trigger rebuilt the database without the package's MIME file.
    if [ "$vcd_known_before" -eq 0 ]; then
        expect "the MIME type text/x-vcd is gone with the package" \
            "the MIME database still holds text/x-vcd after the package was removed" \
            [ ! -e /usr/share/mime/text/x-vcd.xml ]
    else
        skip "the MIME type text/x-vcd is gone with the package" "another package declares it too"
    fi
else
    cat "$LOG_DIR/remove.log"
    fail "dpkg -r corvane"
fi

checks_summary "packaging checks" || exit 1
