#!/usr/bin/env python3
"""Writes the seed inputs of the H.264 fuzz targets from the recorded streams of this folder.

    python3 tests/data/h264/make_fuzz_seeds.py

h264_depacketizer seeds are chunks of a 16-bit big-endian length, a control byte (0x80 marker,
0x40 sequence gap, 0x20 RTP padding, 0x10 Reset, 0x08 host refuses, 0x04 host has no buffer,
0x03 the chunk is the session's sequence parameter set) and an RTP payload, as
tests/fuzz/h264_depacketizer_fuzzer.cpp reads them. h264_sps seeds are sequence parameter sets.
"""
import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "fuzz", "corpus")


def packets(name):
    data = open(os.path.join(HERE, name + ".rtp"), "rb").read()
    at = 0
    while at < len(data):
        length = int.from_bytes(data[at:at + 2], "big")
        yield data[at + 2:at + 2 + length]
        at += 2 + length


def sprop(name):
    first, second = open(os.path.join(HERE, name + ".sprop")).read().strip().split(",")
    return base64.b64decode(first), base64.b64decode(second)


class Bits:
    """Writes fields and Exp-Golomb codes; nal() adds the stop bit, escapes and the header."""

    def __init__(self):
        self.bits = []

    def put(self, value, count):
        self.bits += [(value >> i) & 1 for i in range(count - 1, -1, -1)]
        return self

    def ue(self, value):
        code = value + 1
        return self.put(0, code.bit_length() - 1).put(code, code.bit_length())

    def se(self, value):
        return self.ue(2 * value - 1 if value > 0 else -2 * value)

    def nal(self, header):
        bits = self.bits + [1]
        bits += [0] * (-len(bits) % 8)
        rbsp = bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
        out, zeros = bytearray([header]), 0
        for byte in rbsp:
            if zeros >= 2 and byte <= 3:
                out.append(3)
                zeros = 0
            out.append(byte)
            zeros = zeros + 1 if byte == 0 else 0
        return bytes(out)


def crafted_sps_444_scaling():
    """High 4:4:4, twelve scaling lists (some cut short by a zero scale), cropping, POC type 1."""
    b = Bits().put(244, 8).put(0, 8).put(40, 8).ue(0).ue(3).put(0, 1).ue(0).ue(0).put(0, 1).put(1, 1)
    for i in range(12):
        present = i in (0, 3, 7, 11)
        b.put(1 if present else 0, 1)
        if present:
            for _ in range(16 if i < 6 else 64):
                b.se(1)
    b.ue(0).ue(1).put(0, 1).se(-3).se(2).ue(3).se(1).se(-1).se(4)
    b.ue(2).put(0, 1).ue(12).ue(7).put(1, 1).put(1, 1).put(1, 1).ue(0).ue(8).ue(0).ue(3).put(0, 1)
    return b.nal(0x67)


def crafted_sps_field_cropped():
    """High 4:2:0, field coding (MBAFF), 1920 x 1080 from 34 map units with four-line cropping."""
    b = Bits().put(100, 8).put(0, 8).put(40, 8).ue(0).ue(1).ue(0).ue(0).put(0, 1).put(0, 1)
    b.ue(0).ue(0).ue(4).ue(4).put(0, 1).ue(119).ue(33).put(0, 1).put(1, 1).put(1, 1).put(1, 1)
    b.ue(0).ue(0).ue(0).ue(2).put(0, 1)
    return b.nal(0x67)


def chunk(control, payload):
    body = bytes([control]) + payload
    return len(body).to_bytes(2, "big") + body


def from_stream(name, count, cut=None, with_sprop=False):
    """The first `count` packets; payloads cut to `cut` bytes keep the seed small."""
    out = b""
    if with_sprop:
        out += chunk(0x03, sprop(name)[0])
    for packet in list(packets(name))[:count]:
        payload = packet[12:]
        if cut is not None and payload[0] & 0x1F != 24:
            payload = payload[:cut]
        out += chunk(0x80 if packet[1] & 0x80 else 0x00, payload)
    return out


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def main():
    write("h264_depacketizer", "inband_sets_fu_a", from_stream("high444_200x120_inband", 16, cut=48))
    write("h264_depacketizer", "stap_a_sets_and_sei", from_stream("high_1280x720_stapa", 6, cut=160))
    write("h264_depacketizer", "session_sets_delimiters", from_stream("high_1920x1080_sprop", 12, cut=40,
                                                                        with_sprop=True))
    write("h264_depacketizer", "slices", from_stream("main_640x360_slices", 24, cut=40))
    write("h264_depacketizer", "field_coding_single_nal", from_stream("interlaced_640x360_inband", 14, cut=64))
    sps, pps = sprop("baseline_352x288_inband")
    idr = bytes([0x65, 0x88, 0x84, 0x00, 0x33])
    write("h264_depacketizer", "loss_padding_reset",
          chunk(0x00, sps) + chunk(0x00, pps) + chunk(0x80, idr) + chunk(0x80, bytes([0x41, 0x9A, 0x02])) +
          chunk(0x40, bytes([0x7C, 0x05, 0x11])) + chunk(0xA0, bytes([0x41, 0x9A, 0x02, 0xEE, 0x02])) +
          chunk(0x10, bytes([0x18, 0x00, 0x02, 0x09, 0x10]) + len(sps).to_bytes(2, "big") + sps) +
          chunk(0x88, idr) + chunk(0x84, idr))

    for name in ("baseline_352x288_inband", "high_1920x1080_sprop", "main_640x360_slices", "high_1280x720_stapa",
                 "high444_200x120_inband", "interlaced_640x360_inband"):
        write("h264_sps", name, sprop(name)[0])
    write("h264_sps", "crafted_444_scaling_lists", crafted_sps_444_scaling())
    write("h264_sps", "crafted_field_cropped", crafted_sps_field_cropped())


if __name__ == "__main__":
    main()
