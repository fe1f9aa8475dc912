#!/usr/bin/env bash
# Records an RTP stream for the simulated camera's replay mode (camsim.py --replay FILE): a 1920x1080 25 fps
# H.264 stream at about 8 Mbit/s with a key frame every second, encoded by GStreamer's x264enc from a moving
# test picture and packetized by rtph264pay, with the parameter sets both in the SDP and (as x264 writes them)
# in front of every key frame.
#
#   scripts/make_replay_stream.sh OUT [SECONDS] [--size WxH] [--fps N] [--kbit N]
#
#   SECONDS   length of the recording (default 10); the replay loops it
#   --size    picture size (default 1920x1080); --fps frame rate (default 25); --kbit bit rate (default 8000)
#
# The file (text head, then binary records):
#   "BRANTEL-RTP-REPLAY 1\n"
#   "encoding=H264/90000\n"
#   "fmtp=packetization-mode=1;profile-level-id=...;sprop-parameter-sets=...\n"   (the SDP's a=fmtp value)
#   "width=1920\n" "height=1080\n" "fps=25\n" "kbit=8000\n"
#   "\n"                                       (an empty line ends the head)
#   per RTP packet: its length as 32-bit big-endian, then the packet as the payloader wrote it.
# The packets start at sequence number 0 and RTP time 0; the replay gives every session its own SSRC, sequence
# numbers and time stamps, and paces it by the 90 kHz time stamps.
#
# Needs Debian's python3 with GStreamer's bindings and x264enc (scripts/setup.sh installs them). Takes about
# as long as the recording on two cores.
set -euo pipefail

usage()
{
    echo "usage: scripts/make_replay_stream.sh OUT [SECONDS] [--size WxH] [--fps N] [--kbit N]" >&2
    exit 2
}

[[ $# -ge 1 ]] || usage
out=$1
shift
seconds=10
size=1920x1080
fps=25
kbit=8000
if [[ $# -ge 1 && $1 != --* ]]; then
    seconds=$1
    shift
fi
while [[ $# -gt 0 ]]; do
    [[ $# -ge 2 ]] || usage
    case "$1" in
    --size) size=$2 ;;
    --fps) fps=$2 ;;
    --kbit) kbit=$2 ;;
    *) usage ;;
    esac
    shift 2
done
[[ $seconds =~ ^[0-9]+$ && $seconds -ge 1 && $size =~ ^[0-9]+x[0-9]+$ && $fps =~ ^[0-9]+$ && $kbit =~ ^[0-9]+$ ]] ||
    usage

exec /usr/bin/python3 - "$out" "$seconds" "${size%x*}" "${size#*x}" "$fps" "$kbit" <<'PYTHON'
import base64
import os
import struct
import sys

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

out, seconds, width, height, fps, kbit = sys.argv[1], *map(int, sys.argv[2:])
Gst.init(None)
# A ball over a moving zone plate: enough detail that the rate control spends the bit rate asked for, as a
# camera looking at a busy scene does. Not live, so it encodes as fast as the machine can.
pipeline = Gst.parse_launch(
    f"videotestsrc num-buffers={seconds * fps} pattern=zone-plate kx2=20 ky2=20 kt=1 kxt=2 kyt=3 "
    f"! video/x-raw,width={width},height={height},framerate={fps}/1 "
    f"! x264enc speed-preset=ultrafast tune=zerolatency bitrate={kbit} vbv-buf-capacity=1000 key-int-max={fps} "
    f"! video/x-h264,profile=baseline,stream-format=byte-stream "
    f"! rtph264pay pt=96 mtu=1400 config-interval=0 seqnum-offset=0 timestamp-offset=0 "
    f"! appsink name=sink sync=false emit-signals=false max-buffers=0")
sink = pipeline.get_by_name("sink")
pipeline.set_state(Gst.State.PLAYING)
packets = []
fmtp = None
while True:
    sample = sink.emit("pull-sample")
    if sample is None:
        break
    if fmtp is None:
        caps = sample.get_caps().get_structure(0)
        fields = ["packetization-mode=1"]
        for name in ("profile-level-id", "sprop-parameter-sets"):
            value = caps.get_string(name)
            if value:
                fields.append(f"{name}={value}")
        sets = caps.get_string("sprop-parameter-sets")
        if not caps.get_string("profile-level-id") and sets:
            # Profile, constraints and level are the three bytes behind the sequence parameter set's NAL header.
            sps = base64.b64decode(sets.split(",")[0])
            fields.insert(1, f"profile-level-id={sps[1:4].hex().upper()}")
        fmtp = ";".join(fields)
    buffer = sample.get_buffer()
    packets.append(buffer.extract_dup(0, buffer.get_size()))
error = pipeline.get_bus().pop_filtered(Gst.MessageType.ERROR)
pipeline.set_state(Gst.State.NULL)
if error is not None or not packets:
    print(f"make_replay_stream: {error.parse_error()[0].message if error else 'no packets'}", file=sys.stderr)
    sys.exit(1)
head = (f"BRANTEL-RTP-REPLAY 1\nencoding=H264/90000\nfmtp={fmtp}\nwidth={width}\nheight={height}\n"
        f"fps={fps}\nkbit={kbit}\n\n")
temporary = out + ".part"
with open(temporary, "wb") as file:
    file.write(head.encode())
    for packet in packets:
        file.write(struct.pack(">I", len(packet)))
        file.write(packet)
os.replace(temporary, out)
payload = sum(len(packet) for packet in packets)
print(f"{out}: {len(packets)} packets, {seconds} s, {payload * 8 / seconds / 1000:.0f} kbit/s")
PYTHON
