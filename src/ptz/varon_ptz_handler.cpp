#include "ptz/varon_ptz_handler.h"

#include <algorithm>
#include <new>

#include "core/driver_services.h"
#include "ptz/varon_ptz_control.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr const char* kGetXMLStorageFileName = "kestrav::CVaronPTZHandler::GetXMLStorageFileName";
constexpr std::size_t kMacDigits = 12;

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
}

CVaronPTZHandler::~CVaronPTZHandler()
{
    // The controls are this family's objects: they go while it is still whole.
    ReleaseControls();
}

std::string CVaronPTZHandler::PresetFileName(const std::string& rootName, std::string_view macAddress)
{
    const std::string digits = RemoveChars(macAddress, ":-");
    if (digits.size() != kMacDigits || !std::all_of(digits.begin(), digits.end(), IsHexDigit))
        return {};
    return rootName + "_" + digits + ".preset";
}

void CVaronPTZHandler::GetXMLStorageFileName(std::string& name)
{
    name.clear();
    IDriver* driver = GetDriver();
    if (driver == nullptr)
        return;
    const std::string mac = driver->GetParamString(kMacAddressParam);
    const DEVICE_INFO* device = driver->GetDeviceInfo();
    const char* address = device != nullptr ? device->address.c_str() : "";
    if (mac.empty())
    {
        driver->SendDebugMessage(
            kLogError,
            "%s: PTZ handler for %s device cannot be initialized. Unable to create XML storage (MAC is empty)!",
            kGetXMLStorageFileName, address);
        return;
    }
    name = PresetFileName(GetRootName(), mac);
    if (name.empty())
        driver->SendDebugMessage(kLogError,
                                 "%s: PTZ handler for %s device cannot be initialized. Unable to create XML storage "
                                 "(MAC \"%s\" is not twelve hexadecimal digits)!",
                                 kGetXMLStorageFileName, address, mac.c_str());
}

CBasePTZControl* CVaronPTZHandler::CreatePTZControl(std::uint32_t channel)
{
    return new (std::nothrow) CVaronPTZControl(GetDriver(), static_cast<std::int32_t>(channel));
}
}
