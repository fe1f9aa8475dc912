// The camera family's PTZ control: its command object is built from the "PTZ features" text the device
// search wrote for the host.
#pragma once

#include <string_view>

#include "ptz/base_ptz_control.h"
#include "ptz/ptz_capabilities.h"

namespace kestrav
{
// Extra parameter holding "<pan, tilt, focus and iris>,<zoom>,<preset count>".
constexpr std::int32_t kPtzFeaturesParam = 6;

class CVaronPTZControl : public CBasePTZControl
{
public:
    using CBasePTZControl::CBasePTZControl;
    ~CVaronPTZControl() override;

    CBasePTZComm* CreatePTZComm() override;

    // Anything but three comma-separated items gives no capability at all; an item that is not an
    // optionally signed decimal number counts as 0.
    static CPtzCapabilities ParseFeatures(std::string_view text);
};
}
