# Installs the Debian packages that building, running and testing need; nothing when all are there.
# Sourced by run.sh and test.sh.

# The accessibility test runs its own session bus (dbus-daemon), on which Qt starts the accessibility bus
# (at-spi2-core).
# Debian 12's Qt Charts needs Qt's OpenGL module at build time, which qt6-charts-dev does not pull in.
VANTERLO_PACKAGES=(
    build-essential cmake qt6-base-dev qt6-qpa-plugins libsqlite3-dev libjpeg-dev
    fonts-noto-cjk fonts-liberation2 xvfb xauth poppler-utils
    pxlib-dev libxlsxwriter-dev qt6-charts-dev libqt6opengl6-dev qt6-translations-l10n
    openbox xdotool imagemagick python3-openpyxl
    dpkg-dev file lintian desktop-file-utils appstream
    clang libclang-rt-14-dev
    libpq-dev pkg-config
    libcups2-dev
    dbus-daemon at-spi2-core
)

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

build_project() {
    # ccache, when the machine has it, makes a rebuild in a second work tree cost little.
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
    cmake --build build -j"$(nproc)"
}
