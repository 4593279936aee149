# Installs the Debian packages that building, running and testing need; nothing when all are there.
# Sourced by run.sh and test.sh.

# The accessibility test runs its own session bus (dbus-daemon), on which Qt starts the accessibility bus
# (at-spi2-core). help2man makes vanterlo-db's manual page from its --help.
# The packages both releases have; the ones only one of them has, or needs, follow per release (VERSION_ID in
# /etc/os-release), and VANTERLO_PACKAGES is the common list with the running release's added.
VANTERLO_PACKAGES=(
    build-essential cmake qt6-base-dev qt6-qpa-plugins libsqlite3-dev libjpeg-dev
    fonts-noto-cjk fonts-liberation2 xvfb xauth poppler-utils
    pxlib-dev libxlsxwriter-dev qt6-charts-dev qt6-translations-l10n
    openbox xdotool imagemagick python3-openpyxl
    dpkg-dev file lintian desktop-file-utils appstream help2man man-db
    clang ccache
    libpq-dev pkg-config
    libcups2-dev
    dbus-daemon at-spi2-core
)
# Debian 12's Qt Charts needs Qt's OpenGL module at build time, which qt6-charts-dev does not pull in; clang 14's
# sanitizer and fuzzer libraries.
VANTERLO_PACKAGES_12=(libqt6opengl6-dev libclang-rt-14-dev)
# Debian 13: Qt's OpenGL module is part of qt6-base-dev; libxlsxwriter-dev no longer pulls in the minizip headers its
# own header needs; clang 19's sanitizer and fuzzer libraries.
VANTERLO_PACKAGES_13=(libminizip-dev libclang-rt-19-dev)

# The Debian release this runs on: 12, 13, ... (empty when /etc/os-release does not say).
debian_release() {
    (
        . /etc/os-release 2>/dev/null || true
        echo "${VERSION_ID%%.*}"
    )
}

case "$(debian_release)" in
    12) VANTERLO_PACKAGES+=("${VANTERLO_PACKAGES_12[@]}") ;;
    13) VANTERLO_PACKAGES+=("${VANTERLO_PACKAGES_13[@]}") ;;
    *) echo "Warning: not Debian 12 or 13 (/etc/os-release); installing the packages both have" >&2 ;;
esac

# The database server that the tests start for themselves (./test.sh). Not needed to build or run the program, so a
# machine where it cannot be installed still builds and runs every other test.
# The same for the print server that the printing tests start (cupsd, and lpadmin with its friends).
VANTERLO_TEST_PACKAGES=(postgresql cups-daemon cups-client)

# Installs the missing ones of the packages given (all of VANTERLO_PACKAGES when none are given).
ensure_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${VANTERLO_PACKAGES[@]}")
    local missing=()
    local p
    for p in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing Debian packages: ${missing[*]}. Install them as root (su -c 'apt-get install ${missing[*]}'), or install sudo, then run this again." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    # A fresh machine finds nothing until the package lists have been read once.
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# The test server's packages; returns non-zero, without stopping the script, when they cannot be installed.
ensure_test_packages() {
    (ensure_packages "${VANTERLO_TEST_PACKAGES[@]}") || return 1
}

# The build folder: build/, or the one VANTERLO_BUILD_DIR names (scripts/in-debian.sh gives another release its own).
build_dir() {
    echo "${VANTERLO_BUILD_DIR:-build}"
}

# Builds the program and the tests, warnings as errors, in $(build_dir); with "package", the way Debian builds its
# packages instead: the compiler and linker flags that dpkg-buildflags gives (all hardening on), warnings left warnings,
# in $(build_dir)-package.
build_project() {
    local dir
    dir="$(build_dir)"
    local options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTERLO_WERROR=ON)
    if [ "${1:-}" = package ]; then
        dir="$dir-package"
        local flags
        flags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=cmdline)"
        local CPPFLAGS="" CXXFLAGS="" LDFLAGS=""
        eval "local $flags"
        options=(-DCMAKE_BUILD_TYPE=None -DVANTERLO_WERROR=OFF "-DCMAKE_CXX_FLAGS=$CPPFLAGS $CXXFLAGS"
            "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" "-DCMAKE_SHARED_LINKER_FLAGS=$LDFLAGS" -DVANTERLO_TESTS=OFF)
    fi
    # ccache, when the machine has it, makes a rebuild in a second work tree cost little.
    command -v ccache >/dev/null && options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" "${options[@]}"
    cmake --build "$dir" -j"$(nproc)"
}
