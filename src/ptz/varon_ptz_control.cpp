#include "ptz/varon_ptz_control.h"

#include <new>
#include <string>
#include <vector>

#include "core/driver_services.h"
#include "ptz/varon_ptz_comm.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
// Saturates far beyond any count the capabilities keep, so a long number cannot overflow.
std::int64_t ReadNumber(std::string_view item)
{
    bool negative = false;
    if (!item.empty() && (item.front() == '-' || item.front() == '+'))
    {
        negative = item.front() == '-';
        item.remove_prefix(1);
    }
    if (item.empty())
        return 0;
    std::int64_t value = 0;
    for (const char c : item)
    {
        if (c < '0' || c > '9')
            return 0;
        if (value < (std::int64_t{1} << 40))
            value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}
}

CVaronPTZControl::~CVaronPTZControl()
{
    // The command object must be gone before this class's part is.
    Close();
}

CPtzCapabilities CVaronPTZControl::ParseFeatures(std::string_view text)
{
    CPtzCapabilities capabilities;
    const std::vector<std::string> items = SplitText(text, ',');
    if (items.size() != 3)
        return capabilities;
    const bool moves = ReadNumber(items[0]) != 0;
    capabilities.pan = capabilities.tilt = capabilities.focus = capabilities.iris = moves;
    capabilities.zoom = ReadNumber(items[1]) != 0;
    capabilities.SetMaximumPresets(ReadNumber(items[2]));
    return capabilities;
}

CBasePTZComm* CVaronPTZControl::CreatePTZComm()
{
    IDriver* driver = GetDriver();
    if (driver == nullptr)
        return nullptr;
    const CPtzCapabilities capabilities = ParseFeatures(driver->GetParamString(kPtzFeaturesParam));
    return new (std::nothrow) CVaronPTZComm(driver, capabilities, static_cast<std::uint16_t>(GetChannelIndex()));
}
}
