// The six device detail texts that the device search leaves with the host; the host hands
// them back to every later Open as the extra parameters of the same ids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/device_capabilities.h"

namespace kestrav
{
// Ids of the device detail texts, which are also the extra parameter indexes.
constexpr std::int32_t kDetailVideoStandard = 1;
constexpr std::int32_t kDetailFirmware = 2;
constexpr std::int32_t kDetailMacAddress = 3;
constexpr std::int32_t kDetailRtspPort = 4;
constexpr std::int32_t kDetailStreamCapabilities = 5;
constexpr std::int32_t kDetailPtzFeatures = 6;

// What every reader of a detail text takes for an empty value.
inline constexpr const char* kEmptyDetailValue = "(none)";

// Flag of a detail text: whether the host should show it as text or as a number.
constexpr std::uint32_t kDetailIsNumber = 0;
constexpr std::uint32_t kDetailIsText = 1;

struct DeviceDetailText
{
    std::int32_t id = 0;
    std::string name;
    std::string value; // never empty: an empty value reads "(none)"
    std::uint32_t flag = kDetailIsText;

    bool operator==(const DeviceDetailText&) const = default;
};

// The six texts in id order. `videoStandard` is the query's: 0 stands for 25 frames per
// second, any other value for 30.
std::vector<DeviceDetailText> MakeDeviceDetailTexts(const DeviceCapabilities& capabilities,
                                                    std::uint32_t videoStandard);

// "pan-tilt,zoom,presets", e.g. "1,1,128": the flags as 0 or 1, then the preset count.
std::string WritePtzFeaturesText(const DeviceCapabilities& capabilities);
}
