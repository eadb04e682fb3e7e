# shellcheck shell=bash
# Installs the Debian packages a script needs and the machine lacks. Shared by build.sh,
# packaging/build-deb.sh, packaging/ci.sh and fuzz/ci.sh, which source it:
#
#   . "$root/scripts/install-missing.sh"
#   install_missing PACKAGE... || exit 1
#
# install_missing names the packages that are not installed ("missing packages: ..."), then
# installs them with apt-get, without recommended packages, as root or through sudo, showing
# apt's progress. A user who is neither root nor may use sudo is told the command to run as
# root instead. Returns 0 when nothing was missing or the installation succeeded, 1 otherwise.
#
# APT_LOCK_WAIT: seconds apt-get waits for the package database while another apt run holds
# it (default 300).

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "==> missing packages: ${missing[*]}"
    local apt=(env DEBIAN_FRONTEND=noninteractive
        apt-get -o "DPkg::Lock::Timeout=${APT_LOCK_WAIT:-300}")
    local how="as root"
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "error: this user cannot install packages (not root, and sudo is not installed)." >&2
            echo "       Install them as root, then run this again:" >&2
            echo "           apt-get install --no-install-recommends ${missing[*]}" >&2
            return 1
        fi
        apt=(sudo "${apt[@]}")
        how="through sudo"
    fi
    echo "==> Installing them $how: apt-get update, apt-get install --no-install-recommends"
    "${apt[@]}" update || return 1
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}" || return 1
}
