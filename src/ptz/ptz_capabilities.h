// What kinds of PTZ movement a camera channel has, and how many presets it stores.
#pragma once

#include <algorithm>
#include <cstdint>

#include "ptz/xml_preposition_reader.h"

namespace kestrav
{
class CPtzCapabilities
{
public:
    virtual ~CPtzCapabilities() = default;

    bool pan = false;
    bool tilt = false;
    bool zoom = false;
    bool focus = false;
    bool iris = false;
    bool areaZoom = false;
    bool center = false;
    bool unzoom = false;

    std::int32_t GetMaximumPresets() const { return m_maximumPresets; }
    // The count comes from a text the camera wrote: a negative or huge one would have the preset list
    // search billions of records, so it is held to 0 ... kMaximumPrepositions.
    void SetMaximumPresets(std::int64_t count)
    {
        m_maximumPresets = static_cast<std::int32_t>(std::clamp<std::int64_t>(count, 0, kMaximumPrepositions));
    }

private:
    std::int32_t m_maximumPresets = 0;
};
}
