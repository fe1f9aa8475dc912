// The codec set-up bytes a session description announces for the video stream, handed to the
// depacketizer so that it can put them in front of key frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrav
{
// Largest parameter set or decoder config kept; a longer one is refused, not cut.
constexpr std::size_t kParameterSetCapacity = 256;

struct ParameterSets
{
    // For H.264 the first two entries of "sprop-parameter-sets": the SPS, then the PPS.
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
    // "config" of the format parameters (MPEG-4 style decoder configuration).
    std::vector<std::uint8_t> config;

    bool operator==(const ParameterSets&) const = default;
};
}
