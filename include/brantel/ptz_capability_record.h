// The record in which the host asks what PTZ a camera channel has.
#pragma once

#include <cstdint>

namespace kestrav
{
// The host's layout: 32-bit fields numbered from 1. The module writes fields 2 to 14; field 1 is the
// host's own.
struct PTZCapabilityRecord
{
    std::int32_t hostField = 0;      // 1
    std::int32_t pan = 0;            // 2
    std::int32_t tilt = 0;           // 3
    std::int32_t zoom = 0;           // 4
    std::int32_t focus = 0;          // 5
    std::int32_t iris = 0;           // 6
    std::int32_t reserved7 = 0;      // 7
    std::int32_t maximumPresets = 0; // 8
    std::int32_t presetCount = 0;    // 9
    std::int32_t reserved10 = 0;     // 10
    std::int32_t reserved11 = 0;     // 11
    std::int32_t areaZoom = 0;       // 12
    std::int32_t center = 0;         // 13
    std::int32_t unzoom = 0;         // 14
};
static_assert(sizeof(PTZCapabilityRecord) == 14 * sizeof(std::int32_t));
}
