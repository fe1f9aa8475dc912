#!/usr/bin/env bash
# Installs every package that building and testing BrantelIPCapture needs, on Debian 12.
#
#   scripts/setup.sh             the Linux build and its tests
#   scripts/setup.sh --windows   also the Windows cross build and Wine to run its tests (adds the i386 architecture)
#
# Idempotent: when everything is already installed it only asks dpkg and returns (no apt-get update, no network).
# When something is missing it refreshes the package lists once and installs only what is missing.
# Runs as root, or through sudo when started by another user.
set -euo pipefail

# ---------------------------------------------------------------------------------------------------------------
# The package list: the one place to add or remove a dependency.
# ---------------------------------------------------------------------------------------------------------------
PACKAGES=(
    # build
    cmake
    ninja-build
    g++
    pkg-config
    binutils # nm, for the exported-symbols check
    git      # scripts/format.sh lists the sources with git
    # libraries the module links
    libcurl4-openssl-dev
    libpugixml-dev
    # tests, checks, fuzzing
    libgtest-dev
    libgmock-dev
    googletest
    clang              # libFuzzer targets
    libclang-rt-14-dev # libFuzzer and sanitizer runtimes for clang
    clang-format
    python3
    openssl # the simulated camera makes its self-signed HTTPS certificate with it
    # the real RTSP peer (GStreamer RTSP server driven from Debian's python3) and the decoder that checks output
    gstreamer1.0-tools
    gstreamer1.0-plugins-base
    gstreamer1.0-plugins-good
    gstreamer1.0-plugins-ugly
    gir1.2-gst-rtsp-server-1.0
    python3-gi
    ffmpeg
    # a second, independent RTSP server as a test peer: VLC's RTSP output of an H.264 file
    vlc-bin
    vlc-plugin-base
)

# The 32-bit Windows build (CMake preset "windows"): mingw-w64's i686 compilers with the posix thread model,
# its binutils (objdump, for the exports check), and Wine with its 32-bit half to run the test programs. GoogleTest
# is built from the googletest sources above.
WINDOWS_PACKAGES=(
    g++-mingw-w64-i686
    g++-mingw-w64-i686-posix
    binutils-mingw-w64-i686
    wine
    wine32:i386
)

windows=0
case "${1:-}" in
"") ;;
--windows) windows=1 ;;
*)
    echo "usage: scripts/setup.sh [--windows]" >&2
    exit 2
    ;;
esac
if [[ $windows -eq 1 ]]; then
    PACKAGES+=("${WINDOWS_PACKAGES[@]}")
fi

missing_packages()
{
    local pkg status
    for pkg in "${PACKAGES[@]}"; do
        # "install ok installed" only for a fully installed package; unknown packages make dpkg-query fail.
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        if [[ "$status" != "install ok installed" ]]; then
            printf '%s\n' "$pkg"
        fi
    done
}

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
    echo "setup.sh: this script needs a Debian-based system (dpkg-query and apt-get not found)." >&2
    exit 1
fi

mapfile -t MISSING < <(missing_packages)
if [[ ${#MISSING[@]} -eq 0 ]]; then
    echo "setup.sh: all ${#PACKAGES[@]} packages are installed."
    exit 0
fi

SUDO=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=(sudo)
    else
        echo "setup.sh: missing packages: ${MISSING[*]}" >&2
        echo "setup.sh: installing them needs root, and sudo is not available; run this script as root." >&2
        exit 1
    fi
fi

echo "setup.sh: installing missing packages: ${MISSING[*]}"
# Finish any install an earlier run left half done, so that such a package counts as installed afterwards.
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive dpkg --configure -a
if [[ $windows -eq 1 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    # wine32 is an i386 package; the update below fetches that architecture's lists.
    "${SUDO[@]}" dpkg --add-architecture i386
fi
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
# --no-install-recommends keeps the install small; every package above lists what it needs to run as a hard
# dependency (the GStreamer plugin packages depend on the codec libraries they wrap).
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${MISSING[@]}"

mapfile -t STILL_MISSING < <(missing_packages)
if [[ ${#STILL_MISSING[@]} -ne 0 ]]; then
    echo "setup.sh: still missing after install: ${STILL_MISSING[*]}" >&2
    exit 1
fi
echo "setup.sh: all ${#PACKAGES[@]} packages are installed."
