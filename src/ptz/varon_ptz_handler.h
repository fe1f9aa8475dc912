// The camera family's PTZ handler: the preset file is named after the camera's MAC address.
#pragma once

#include <string>
#include <string_view>

#include "ptz/base_ptz_handler.h"

namespace kestrav
{
// Extra parameter holding the "MAC address" text of the device search.
constexpr std::int32_t kMacAddressParam = 3;

class CVaronPTZHandler : public CBasePTZHandler
{
public:
    using CBasePTZHandler::CBasePTZHandler;
    ~CVaronPTZHandler() override;

    void GetXMLStorageFileName(std::string& name) override;
    CBasePTZControl* CreatePTZControl(std::uint32_t channel) override;

    // "<root>_<twelve hex digits>.preset" for a MAC address written with or without ":" or "-", in the
    // camera's letter case; empty for anything else, so that no text from the host reaches a path.
    static std::string PresetFileName(const std::string& rootName, std::string_view macAddress);
};
}
