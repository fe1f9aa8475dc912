// What a device search found, as the probe prints it: the camera's identity and what it can do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostkit/host_capability_results.h"

namespace kestrav::hostbench
{
// One resolution of a stream capability text: "1080p 1920x1080 30 1024-2048- 20-30-".
struct ProfileCapability
{
    std::string codec; // "h264", "mpeg4", "jpeg", or "other" for an entry without a prefix
    std::string name;
    std::string size;
    std::string maxFrameRate;
    std::vector<std::string> bitRates;
    std::vector<std::string> qualities;
};

struct StreamCapabilities
{
    std::string kind; // "main", "live", "remote" in the order the text lists the streams
    std::vector<ProfileCapability> profiles;
};

// The stream capability text (device detail 5) read for display: streams end with '#', codec entries
// with ';', resolutions with ','. Whatever does not fit is shown as it stands rather than dropped.
std::vector<StreamCapabilities> ReadStreamCapabilities(std::string_view text);

// "30 fps" for the host's frame-rate codes 0x701E and 33 (a frame interval in milliseconds).
std::string FrameRateCodeText(std::uint32_t code);

// The table the probe prints for `device` ("127.0.0.1:8080").
std::vector<std::string> FormatCapabilityTable(const std::string& device, const hostkit::CapabilitySnapshot& found);
}
