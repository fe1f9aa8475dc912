// The arithmetic that turns a host's stream request into one of the camera's stream profiles:
// the resolution nearest to the requested size, the frame rate capped by what the resolution
// allows, and the bit rate or quality of the resolution's set nearest to the host's level.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/device_capabilities.h"

namespace kestrav
{
using ResolutionMap = std::map<std::string, ResolutionCapability>;

// The resolutions of every codec entry with this id, merged by name (the first entry of a name
// wins). Entries without a name cannot be asked for by path and are left out.
ResolutionMap CollectResolutions(const std::vector<CodecCapability>& codecs, std::uint32_t codecId);

// The name whose width × height is nearest to the requested area; on equal distance the first
// in name order. Empty when there is none.
std::string NearestResolution(const ResolutionMap& resolutions, std::uint32_t width, std::uint32_t height);

// Frames per second for a host frame-rate code: 0 means 1; with bits 0x7000 all set the low 12
// bits are the rate; any other value is a frame interval in milliseconds.
std::uint32_t FrameRateFromCode(std::uint32_t code);

// The member of `values` nearest to lo + (hi − lo) × quality / 100 (kept within lo and hi);
// on equal distance the smaller member. 0 for an empty set.
std::uint32_t NearestToLevel(const std::set<std::uint32_t>& values, std::uint32_t quality);
}
