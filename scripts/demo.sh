#!/usr/bin/env bash
# The module at work, end to end: installs what is missing, builds the module and the host bench program, starts
# the simulated camera, searches it and then records live H.264 and JPEG from it with what the search found,
# through the module as a recording server would, and checks the files with FFprobe.
#
#   scripts/demo.sh [--seconds N] [--out DIR] [--build-dir DIR | --preset windows]
#
#   --seconds N       how long to record (default 5)
#   --out DIR         where the recordings go (default: demo/ in the build directory)
#   --build-dir DIR   build there instead of build/default (CMake preset "default")
#   --preset windows  the 32-bit Windows build instead (CMake preset "windows", build/windows): BrantelIPCapture.dll
#                     and brantel-host.exe, run under Wine in a prefix of the build tree; the camera, the checks
#                     and the recordings' place stay on Linux
#
# Exits non-zero when a step fails, when a stream delivers no frame, or when a file does not hold what was asked.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

usage()
{
    echo "usage: scripts/demo.sh [--seconds N] [--out DIR] [--build-dir DIR | --preset windows]" >&2
    exit 2
}

seconds=5
out=
build_dir=
preset=default
while [[ $# -gt 0 ]]; do
    case "$1" in
    --seconds | --out | --build-dir | --preset)
        [[ $# -ge 2 ]] || usage
        case "$1" in
        --seconds) seconds=$2 ;;
        --out) out=$2 ;;
        --build-dir) build_dir=$2 ;;
        --preset) preset=$2 ;;
        esac
        shift 2
        ;;
    -h | --help) usage ;;
    *)
        echo "demo.sh: unknown argument '$1'" >&2
        usage
        ;;
    esac
done
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "demo.sh: --seconds needs a whole number of seconds, not '$seconds'" >&2
    exit 2
fi
if [[ "$preset" != default && "$preset" != windows ]]; then
    echo "demo.sh: --preset is default or windows, not '$preset'" >&2
    usage
fi
if [[ "$preset" == windows && -n "$build_dir" ]]; then
    echo "demo.sh: --preset windows builds in build/windows; --build-dir is for the Linux build" >&2
    usage
fi
windows=0
[[ "$preset" == windows ]] && windows=1

section()
{
    printf '\n==== %s ====\n' "$*"
}

if [[ $windows -eq 1 ]]; then
    section "Dependencies (scripts/setup.sh --windows)"
    bash scripts/setup.sh --windows
else
    section "Dependencies (scripts/setup.sh)"
    bash scripts/setup.sh
fi

if [[ $windows -eq 1 ]]; then
    section "Build (BrantelIPCapture.dll and brantel-host.exe, mingw-w64 i686)"
    cmake --preset windows >/dev/null
    build_dir=$repo/build/windows
    cmake --build --preset windows --target brantel-host
elif [[ -z "$build_dir" ]]; then
    cmake --preset default >/dev/null
    build_dir=$repo/build/default
    cmake --build --preset default --target brantel-host
else
    cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build_dir" --target brantel-host
fi
host=$build_dir/tools/host/brantel-host
out=${out:-$build_dir/demo}
if [[ $windows -eq 1 ]]; then
    host=$host.exe
    module=$build_dir/src/BrantelIPCapture.dll
    # The program names files as Windows does; Wine's drive Z: is the Linux root.
    out=$(realpath -m "$out")
fi

# A path as the host program names it.
host_path()
{
    if [[ $windows -eq 1 ]]; then
        local path=${1//\//\\}
        printf 'Z:%s' "$path"
    else
        printf '%s' "$1"
    fi
}

run_host()
{
    if [[ $windows -eq 1 ]]; then
        wine "$host" "$@"
    else
        "$host" "$@"
    fi
}

section "Simulated camera (tools/camsim/camsim.py)"
work=$(mktemp -d /tmp/brantel-demo-XXXXXX)
camera_pid=
wine_started=0
cleanup()
{
    if [[ -n "$camera_pid" ]] && kill -0 "$camera_pid" 2>/dev/null; then
        kill "$camera_pid" 2>/dev/null || true
        wait "$camera_pid" 2>/dev/null || true
    fi
    if [[ $wine_started -eq 1 ]]; then
        wineserver -k || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Debian's interpreter: it has the GStreamer bindings. With stdin at /dev/null the camera runs until it is killed.
/usr/bin/python3 tools/camsim/camsim.py >"$work/camera.log" 2>&1 </dev/null &
camera_pid=$!
rtsp_port=
http_port=
for _ in $(seq 1 300); do
    if grep -q '^FAILED' "$work/camera.log" || ! kill -0 "$camera_pid" 2>/dev/null; then
        break
    fi
    if grep -q '^READY ' "$work/camera.log"; then
        rtsp_port=$(awk '/^RTSP /{print $2; exit}' "$work/camera.log")
        http_port=$(awk '/^READY /{print $2; exit}' "$work/camera.log")
        break
    fi
    sleep 0.1
done
if [[ -z "$rtsp_port" || -z "$http_port" ]]; then
    echo "demo.sh: the simulated camera did not start:" >&2
    cat "$work/camera.log" >&2
    exit 1
fi
echo "camera: HTTP CGI on 127.0.0.1:$http_port, RTSP on 127.0.0.1:$rtsp_port"

# The host as installed: the program in a directory of its own, with the driver's configuration file beside it. The
# simulated camera's RTSP port is chosen at its start, so the configuration names it for this camera, as an
# installation names a camera's RTSP port that is not 554; the device search reports it from there.
mkdir -p "$work/host"
if [[ $windows -eq 1 ]]; then
    # The module beside the program, as a host installs it.
    cp "$host" "$work/host/brantel-host.exe"
    cp "$module" "$work/host/BrantelIPCapture.dll"
    host=$work/host/brantel-host.exe
else
    cp "$host" "$work/host/brantel-host"
    host=$work/host/brantel-host
fi
cat >"$work/host/BrantelIPCapture.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Configuration>
  <Device address="127.0.0.1" port="$http_port"><RTSPPort value="$rtsp_port"/></Device>
</Configuration>
XML

if [[ $windows -eq 1 ]]; then
    section "Wine (prefix build/windows/wine)"
    # As scripts/test.sh runs the suite: one prefix in the build tree, its services started once, and Wine's own
    # diagnostics and the Mono and Gecko installers of a new prefix left out.
    export WINEPREFIX=$build_dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine_started=1
    wine wineboot </dev/null >/dev/null 2>&1
    echo "$(wine --version) in $WINEPREFIX"
fi

section "Device search (brantel-host probe)"
# What an operator's "add camera" runs: the camera's /server and /getprofile answers become the six device details
# (1 video standard, 2 firmware, 3 MAC address, 4 RTSP port, 5 stream capabilities, 6 PTZ features) that every
# later open of the camera gets back. The channels choose their stream profile and RTSP path from 5.
params=$work/camera.params
if ! run_host probe --address 127.0.0.1 --port "$http_port" --out "$(host_path "$params")"; then
    echo "demo.sh: the device search failed; the camera's log ends with:" >&2
    tail -n 20 "$work/camera.log" >&2
    exit 1
fi

# The camera streams one profile per stream (multiple streaming): H.264 1080p on the main stream, H.264 720p on the
# live stream and JPEG D1 on the remote stream, as the search found them.
section "Recording ${seconds} s: H.264 720p (live stream) and JPEG D1 (remote stream)"
echo "(Ctrl-C stops the recording early; the files are still checked)"
# Ctrl-C reaches brantel-host, which stops the streams and writes its summary; the demo goes on to the checks.
trap ':' INT
status=0
run_host record --address 127.0.0.1 --port "$http_port" --params-file "$(host_path "$params")" \
    --stream h264,kind=live,size=1280x720,fps=25,quality=50 \
    --stream jpeg,kind=remote,size=720x480,fps=10,quality=70 \
    --duration "$seconds" --out "$(host_path "$out")" || status=$?
trap 'exit 130' INT
if [[ $status -ne 0 ]]; then
    echo "demo.sh: brantel-host ended with status $status; the camera's log ends with:" >&2
    tail -n 20 "$work/camera.log" >&2
    exit "$status"
fi

section "Files (checked with ffprobe)"
failed=0
check()
{
    local file=$1 codec=$2 width=$3 height=$4
    local probe found_codec found_width found_height frames errors
    if [[ ! -s "$file" ]]; then
        echo "  $file: missing or empty" >&2
        failed=1
        return
    fi
    probe=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=codec_name,width,height,nb_read_frames -of csv=p=0 "$file" || true)
    IFS=, read -r found_codec found_width found_height frames <<<"$probe"
    errors=$(ffmpeg -nostdin -hide_banner -v error -i "$file" -f null - 2>&1 || true)
    printf '  %s\n      %s, %sx%s, %s frames, %s bytes%s\n' "$file" "${found_codec:-?}" "${found_width:-?}" \
        "${found_height:-?}" "${frames:-0}" "$(stat -c %s "$file")" "$([[ -z "$errors" ]] && echo ", decodes cleanly")"
    if [[ "$found_codec" != "$codec" || "$found_width" != "$width" || "$found_height" != "$height" ]] ||
        ! [[ "${frames:-0}" =~ ^[0-9]+$ ]] || [[ "${frames:-0}" -eq 0 ]]; then
        echo "      expected $codec at ${width}x${height} with frames" >&2
        failed=1
    fi
    if [[ -n "$errors" ]]; then
        echo "      ffmpeg reports: $errors" >&2
        failed=1
    fi
}
check "$out/ch0-live-h264.h264" h264 1280 720
check "$out/ch0-remote-jpeg.mjpeg" mjpeg 720 480
if [[ $failed -ne 0 ]]; then
    echo "demo.sh: the recordings are not what was asked for" >&2
    exit 1
fi

section "Done"
echo "The recordings are in $out:"
echo "  ch0-live-h264.h264     H.264 Annex B byte stream (play: ffplay $out/ch0-live-h264.h264)"
echo "  ch0-remote-jpeg.mjpeg  JPEG pictures one after another (play: ffplay -f mjpeg $out/ch0-remote-jpeg.mjpeg)"
