// RTP/JPEG payloads built the way RFC 2435 lays them out, a parser wired to the host kit, and
// the streams recorded from GStreamer in tests/data/jpeg/.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "../h264/h264_test_support.h"
#include "media/jpeg_depacketizer.h"

namespace kestrav::testing
{
// Entropy-coded filler that never holds an FF byte, so it never looks like a marker.
inline Bytes EntropyData(std::size_t size, std::uint8_t seed = 0)
{
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>((i * 7 + seed) % 0xFF);
    return data;
}

// The RFC 2435 main header.
inline Bytes MainHeader(std::uint32_t offset, std::uint8_t type, std::uint8_t q, std::uint8_t widthUnits,
                        std::uint8_t heightUnits)
{
    return {
        0x00,                                    // type-specific
        static_cast<std::uint8_t>(offset >> 16), // fragment offset, 24 bits
        static_cast<std::uint8_t>(offset >> 8),  //
        static_cast<std::uint8_t>(offset),       //
        type,                                    //
        q,                                       //
        widthUnits,                              // width / 8
        heightUnits,                             // height / 8
    };
}

// Restart interval, then F=1, L=1 and a count of 0x3FFF.
inline Bytes RestartHeader(std::uint16_t interval)
{
    return {static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval), 0xFF, 0xFF};
}

// MBZ, precision, length, then the tables.
inline Bytes QuantizationHeader(const Bytes& tables, std::uint8_t precision = 0, std::uint8_t mbz = 0)
{
    Bytes header = {mbz, precision, static_cast<std::uint8_t>(tables.size() >> 8),
                    static_cast<std::uint8_t>(tables.size())};
    header.insert(header.end(), tables.begin(), tables.end());
    return header;
}

using JpegFixture = ParserFixture<CJpegRTPMediaParser, 2000>;

// The packets of one stream recorded by tests/data/jpeg/record.py; empty when it cannot be read.
inline std::vector<Bytes> LoadJpegStream(const std::string& name)
{
    return ReadRecordedDatagrams(RecordedDataDirectory() / "jpeg" / (name + ".rtp")).value_or(std::vector<Bytes>{});
}

// The JPEG segments in front of the scan data: marker and segment bytes (without the marker),
// in order; SOI has no segment. Stops after SOS.
struct Segment
{
    std::uint8_t marker;
    Bytes body;
};

inline std::vector<Segment> HeaderSegments(const Bytes& picture)
{
    std::vector<Segment> segments;
    std::size_t at = 2;
    if (picture.size() < 2 || picture[0] != 0xFF || picture[1] != 0xD8)
        return segments;
    segments.push_back({0xD8, {}});
    while (at + 4 <= picture.size() && picture[at] == 0xFF)
    {
        const std::uint8_t marker = picture[at + 1];
        const std::size_t length = std::size_t{picture[at + 2]} << 8 | picture[at + 3];
        if (length < 2 || at + 2 + length > picture.size())
            break;
        segments.push_back({marker, Bytes(picture.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                          picture.begin() + static_cast<std::ptrdiff_t>(at + 2 + length))});
        at += 2 + length;
        if (marker == 0xDA)
            break;
    }
    return segments;
}
}
