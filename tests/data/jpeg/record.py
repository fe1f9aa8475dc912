#!/usr/bin/python3
"""Records the RTP/JPEG fixtures of the depacketizer tests from Debian's GStreamer.

Run with Debian's python3 (it has the GStreamer bindings):

    /usr/bin/python3 tests/data/jpeg/record.py [OUTPUT-DIR]

Each stream is videotestsrc -> jpegenc -> rtpjpegpay -> appsink at 320x240 I420 (RTP/JPEG
type 1). rtpjpegpay sends Q=255 with the encoder's quantization tables in band. For stream
NAME it writes NAME.rtp: every RTP packet the payloader produced, in order, each preceded by
its length as a 16-bit big-endian number.
"""
import os
import sys

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

# name, jpegenc quality, pictures, rtpjpegpay mtu
STREAMS = [
    ("q50_320x240", 50, 3, 1400),   # several fragments per picture
    ("q85_320x240", 85, 2, 600),    # many small fragments, sequence wrap
    ("q10_320x240", 10, 2, 1400),   # coarse tables, few fragments
]


def record(out_dir, name, quality, pictures, mtu):
    seqnum = 65530 if mtu == 600 else 1000  # fixed, so that a new recording gives the same bytes
    description = (
        f"videotestsrc pattern=smpte horizontal-speed=4 num-buffers={pictures} ! "
        "video/x-raw,width=320,height=240,framerate=25/1 ! videoconvert ! video/x-raw,format=I420 ! "
        f"jpegenc quality={quality} ! "
        f"rtpjpegpay pt=26 mtu={mtu} ssrc=305419896 timestamp-offset=90000 seqnum-offset={seqnum} ! "
        "appsink name=sink sync=false")
    pipeline = Gst.parse_launch(description)
    sink = pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    packets = []
    while True:
        sample = sink.emit("pull-sample")
        if sample is None:
            break
        ok, info = sample.get_buffer().map(Gst.MapFlags.READ)
        packets.append(bytes(info.data))
        sample.get_buffer().unmap(info)
    pipeline.set_state(Gst.State.NULL)
    if not packets:
        raise SystemExit(f"{name}: the pipeline produced no packets")
    with open(os.path.join(out_dir, name + ".rtp"), "wb") as out:
        for packet in packets:
            out.write(len(packet).to_bytes(2, "big"))
            out.write(packet)
    print(f"{name}: {len(packets)} packets, {sum(map(len, packets))} bytes")


def main():
    Gst.init(None)
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for stream in STREAMS:
        record(out_dir, *stream)


if __name__ == "__main__":
    main()
