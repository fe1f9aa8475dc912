#!/usr/bin/python3
"""Records the H.264 RTP fixtures of the depacketizer tests from Debian's GStreamer.

Run with Debian's python3 (it has the GStreamer bindings):

    /usr/bin/python3 tests/data/h264/record.py [OUTPUT-DIR]

Each stream is videotestsrc -> x264enc -> rtph264pay -> appsink. For stream NAME it writes
  NAME.rtp    every RTP packet the payloader produced, in order, each preceded by its length
              as a 16-bit big-endian number;
  NAME.sprop  the payloader's sprop-parameter-sets (what a camera's SDP would announce).
The tests know each stream's picture size and packetization from the table below.
"""
import os
import sys

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

# name, raw format, width, height, frames, x264enc properties, profile, stream format, rtph264pay properties
STREAMS = [
    # Small MTU: key frames and most P frames are FU-A fragmented; SPS/PPS in front of every IDR.
    # The sequence numbers start just below the 16-bit wrap.
    ("baseline_352x288_inband", "I420", 352, 288, 16,
     "key-int-max=8 bitrate=600 threads=1 aud=false", "baseline", "byte-stream",
     "mtu=400 config-interval=-1 seqnum-offset=65500"),
    # 1088 coded lines cropped to 1080; parameter sets only in the session description (the
    # encoder's in-band copies are taken out, see strip_parameter_sets).
    ("high_1920x1080_sprop", "I420", 1920, 1080, 6,
     "key-int-max=2 bitrate=400 threads=1", "high", "avc",
     "mtu=1400 config-interval=0"),
    # Four slices per picture, FU-A fragmented, parameter sets only in the session description.
    ("main_640x360_slices", "I420", 640, 360, 10,
     "key-int-max=5 bitrate=1000 threads=1 option-string=slices=4", "main", "avc",
     "mtu=400 config-interval=0"),
    # SPS and PPS aggregated into a STAP-A in front of every IDR, B-frames, scaling matrices.
    ("high_1280x720_stapa", "I420", 1280, 720, 8,
     "key-int-max=4 bitrate=300 threads=1 bframes=2 option-string=cqm=jvt", "high", "byte-stream",
     "mtu=1400 config-interval=-1 aggregate-mode=zero-latency"),
    # High 4:4:4: the cropping unit is one pixel, not two.
    ("high444_200x120_inband", "Y444", 200, 120, 6,
     "key-int-max=3 bitrate=200 threads=1", "high-4:4:4", "byte-stream",
     "mtu=400 config-interval=-1"),
    # Field coding (frame_mbs_only_flag 0): map units are macroblock pairs and the vertical
    # cropping unit is four lines.
    ("interlaced_640x360_inband", "I420", 640, 360, 6,
     "key-int-max=3 bitrate=300 threads=1 interlaced=true", "high", "byte-stream",
     "mtu=1400 config-interval=-1"),
]


def strip_parameter_sets(packets):
    """Plays a camera that announces its parameter sets only in the session description: the
    single-NAL-unit packets carrying an SPS or PPS are left out and the sequence numbers closed
    up, as if they had never been sent."""
    kept = [p for p in packets if (p[12] & 0x1F) not in (7, 8)]
    first = int.from_bytes(kept[0][2:4], "big")
    return [p[:2] + ((first + i) & 0xFFFF).to_bytes(2, "big") + p[4:] for i, p in enumerate(kept)]


def record(out_dir, name, raw_format, width, height, frames, encoder, profile, stream_format, payloader):
    interlace = ",interlace-mode=interleaved" if "interlaced=true" in encoder else ""
    if "seqnum-offset" not in payloader:
        payloader += " seqnum-offset=1000"  # fixed, so that a new recording gives the same bytes
    description = (
        f"videotestsrc pattern=smpte horizontal-speed=4 num-buffers={frames} ! "
        f"video/x-raw,format={raw_format},width={width},height={height},framerate=25/1{interlace} ! "
        f"x264enc {encoder} ! video/x-h264,profile={profile},stream-format={stream_format} ! "
        f"rtph264pay pt=96 ssrc=305419896 timestamp-offset=90000 {payloader} ! "
        "appsink name=sink sync=false")
    pipeline = Gst.parse_launch(description)
    sink = pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    packets = []
    sprop = ""
    while True:
        sample = sink.emit("pull-sample")
        if sample is None:
            break
        caps = sample.get_caps().get_structure(0)
        if caps.has_field("sprop-parameter-sets"):
            sprop = caps.get_value("sprop-parameter-sets")
        ok, info = sample.get_buffer().map(Gst.MapFlags.READ)
        packets.append(bytes(info.data))
        sample.get_buffer().unmap(info)
    pipeline.set_state(Gst.State.NULL)
    if name.endswith("_sprop"):
        packets = strip_parameter_sets(packets)
    if not packets:
        raise SystemExit(f"{name}: the pipeline produced no packets")
    with open(os.path.join(out_dir, name + ".rtp"), "wb") as out:
        for packet in packets:
            out.write(len(packet).to_bytes(2, "big"))
            out.write(packet)
    with open(os.path.join(out_dir, name + ".sprop"), "w") as out:
        out.write(sprop + "\n")
    print(f"{name}: {len(packets)} packets, {sum(map(len, packets))} bytes, sprop {sprop}")


def main():
    Gst.init(None)
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for stream in STREAMS:
        record(out_dir, *stream)


if __name__ == "__main__":
    main()
