# Sourced by run.sh, test.sh and bench.sh: installs the Debian packages given
# to ensure_packages that are not installed yet. Works as root and through
# sudo; runs apt-get update once, and only when something is missing.

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "Missing packages: ${missing[*]}; run this as root or install sudo." >&2
            return 1
        fi
    fi
    echo "Installing: ${missing[*]}" >&2
    if [ -z "${SEGMORA_APT_UPDATED:-}" ]; then
        "${sudo[@]}" apt-get update -qq
        export SEGMORA_APT_UPDATED=1
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the programs needs.
BUILD_PACKAGES=(
    build-essential cmake pkg-config ninja-build
    libtag1-dev libmpg123-dev libcue-dev
    qt6-base-dev qt6-svg-dev libgl-dev libqt6svg6
    libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
)

# What the tests need beyond that: the test framework, independent decoders,
# probes and tag readers, the checker of desktop entries, and a virtual
# display for the window tests that want one. The measure of cutting to the
# sample also decodes with libmpg123 and GStreamer (decodebin, playbin and
# the mpg123 plugin) through helpers it compiles against the build packages.
TEST_PACKAGES=(
    libgtest-dev
    mpg123 python3 python3-mutagen ffmpeg desktop-file-utils
)

# The number of parallel build jobs.
build_jobs() {
    nproc 2>/dev/null || echo 2
}
