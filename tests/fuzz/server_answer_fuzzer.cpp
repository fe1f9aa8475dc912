// The "/server" answer reader on any body (it comes from whatever answers at the address the host gave):
// it never fails, takes its texts from the body, and sets only the features and counts the family has.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/camera_answer_readers.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// A value taken from the body, or the fresh record's.
bool FromBodyOr(std::string_view value, std::string_view body, std::string_view fresh)
{
    return value == fresh || body.find(value) != std::string_view::npos;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const DeviceCapabilities fresh;
    DeviceCapabilities capabilities;
    ReadServerAnswer(body, capabilities);

    Check(FromBodyOr(capabilities.modelName, body, fresh.modelName));
    Check(FromBodyOr(capabilities.macAddress, body, fresh.macAddress));
    Check(FromBodyOr(capabilities.softwareVersion, body, fresh.softwareVersion));
    for (const std::string_view text : {capabilities.modelName, capabilities.macAddress, capabilities.softwareVersion})
        Check(text.find_first_of("\r\n") == std::string_view::npos);
    Check(capabilities.manufacturer == "VARON" || capabilities.manufacturer == "Brantel");
    Check(capabilities.ptzPresent <= 1 && capabilities.ptzSecond <= 1);
    Check(capabilities.ptzPresetCount == 0 || capabilities.ptzPresetCount == 128);
    Check(capabilities.ptzPresetCount == 0 || (capabilities.ptzPresent == 1 && capabilities.ptzSecond == 1));
    Check(capabilities.inputCount <= 1 && capabilities.outputCount <= 1);
    Check(capabilities.streams.empty());
    Check(capabilities.rtspPort == fresh.rtspPort && capabilities.multipleStreaming == fresh.multipleStreaming);
    return 0;
}
