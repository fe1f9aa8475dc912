#include "channels/stream_profile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrav
{
ResolutionMap CollectResolutions(const std::vector<CodecCapability>& codecs, std::uint32_t codecId)
{
    ResolutionMap merged;
    for (const CodecCapability& codec : codecs)
    {
        if (codec.codecId != codecId)
            continue;
        for (const auto& [name, resolution] : codec.resolutions)
        {
            if (!name.empty())
                merged.emplace(name, resolution);
        }
    }
    return merged;
}

std::string NearestResolution(const ResolutionMap& resolutions, std::uint32_t width, std::uint32_t height)
{
    // 64-bit areas: hostile capability texts may carry sizes near 2^32.
    const std::uint64_t target = std::uint64_t{width} * height;
    std::string best;
    std::uint64_t bestDistance = std::numeric_limits<std::uint64_t>::max();
    for (const auto& [name, resolution] : resolutions)
    {
        const std::uint64_t area = std::uint64_t{resolution.width} * resolution.height;
        const std::uint64_t distance = area > target ? area - target : target - area;
        if (best.empty() || distance < bestDistance)
        {
            best = name;
            bestDistance = distance;
        }
    }
    return best;
}

std::uint32_t FrameRateFromCode(std::uint32_t code)
{
    if (code == 0)
        return 1;
    if ((code & 0x7000u) == 0x7000u)
        return code & 0xFFFu;
    return static_cast<std::uint32_t>(std::lround(1000.0 / code));
}

std::uint32_t NearestToLevel(const std::set<std::uint32_t>& values, std::uint32_t quality)
{
    if (values.empty())
        return 0;
    const double lo = *values.begin();
    const double hi = *values.rbegin();
    const double target = std::clamp(lo + (hi - lo) * quality / 100.0, lo, hi);
    std::uint32_t best = 0;
    double bestDistance = std::numeric_limits<double>::max();
    for (const std::uint32_t value : values)
    {
        const double distance = std::abs(value - target);
        if (distance < bestDistance)
        {
            best = value;
            bestDistance = distance;
        }
    }
    return best;
}
}
