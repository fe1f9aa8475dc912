#include "core/device_detail_texts.h"

#include <utility>

#include "core/stream_capability_text.h"

namespace kestrav
{
namespace
{
DeviceDetailText MakeText(std::int32_t id, const char* name, std::string value, std::uint32_t flag)
{
    if (value.empty())
        value = kEmptyDetailValue;
    return DeviceDetailText{id, name, std::move(value), flag};
}
}

std::vector<DeviceDetailText> MakeDeviceDetailTexts(const DeviceCapabilities& capabilities, std::uint32_t videoStandard)
{
    std::vector<DeviceDetailText> texts;
    texts.reserve(6);
    texts.push_back(MakeText(kDetailVideoStandard, "Video standard", std::to_string(videoStandard), kDetailIsNumber));
    texts.push_back(MakeText(kDetailFirmware, "Firmware", capabilities.softwareVersion, kDetailIsText));
    texts.push_back(MakeText(kDetailMacAddress, "MAC address", capabilities.macAddress, kDetailIsText));
    texts.push_back(MakeText(kDetailRtspPort, "RTSP port", std::to_string(capabilities.rtspPort), kDetailIsNumber));
    texts.push_back(MakeText(kDetailStreamCapabilities, "Stream capabilities",
                             WriteStreamCapabilityText(capabilities.streams), kDetailIsText));
    texts.push_back(MakeText(kDetailPtzFeatures, "PTZ features", WritePtzFeaturesText(capabilities), kDetailIsText));
    return texts;
}

std::string WritePtzFeaturesText(const DeviceCapabilities& capabilities)
{
    return std::to_string(capabilities.ptzPresent != 0 ? 1 : 0) + "," +
           std::to_string(capabilities.ptzSecond != 0 ? 1 : 0) + "," + std::to_string(capabilities.ptzPresetCount);
}
}
