// The picture size and format of an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kestrav
{
struct H264SequenceParameters
{
    std::uint8_t profileIdc = 0;
    std::uint8_t levelIdc = 0;
    // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4.
    std::uint32_t chromaFormatIdc = 1;
    bool frameMbsOnly = true;
    // The displayed size: the coded size less the cropping.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// `nalUnit` is one NAL unit as it travels, header byte first, emulation prevention bytes
// included; it ends at its last byte or at the next start code, whichever comes first.
// nullopt for anything that is not a sequence parameter set with a plausible picture: another
// NAL type, a truncated or malformed set, out-of-range values, or cropping that leaves nothing.
std::optional<H264SequenceParameters> ReadH264SequenceParameters(std::span<const std::uint8_t> nalUnit);
}
