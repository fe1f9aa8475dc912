// The camera's answers to "/server" (identity and feature bits) and "/getprofile" (stream profiles),
// read into the device capability record, and the host's frame-rate code.
//
// Both answers are lines of "name=value" ended by "\r\n". They come from the network: every number is
// bounded before it sizes anything, and a profile whose values make no sense is left out while the
// rest of the answer still counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/device_capabilities.h"

namespace kestrav
{
// The host's code for a frame rate: 1000 for 0, the frame interval in milliseconds (rounded half up)
// for 1 to 30 frames per second, and the rate with bits 0x70000000 set above 30.
std::uint32_t FrameRateCode(std::uint32_t framesPerSecond);

// The audio of one direction; this camera family reports none.
class CAudioCapabilities
{
public:
    virtual ~CAudioCapabilities() = default;
    // "Count=%u; IsStereo=%u".
    std::string GetText() const;

    std::uint32_t channelCount = 0;
    bool isStereo = false;
};

// Frame rates a profile may announce; anything outside is a broken answer, not a camera.
constexpr std::uint32_t kMaxProfileFrameRate = 120;
// More bit rates or qualities than this are not offered to the host (a camera lists a handful).
constexpr std::size_t kMaxProfileRangeValues = 64;
// "profile_00_" to "profile_099_".
constexpr std::uint32_t kMaxProfiles = 100;

// Codec id (1 H.264, 2 MPEG-4, 3 JPEG, 4 other) of a lower-cased profile name.
std::uint32_t ClassifyProfileCodec(std::string_view lowerName);

// The resolution a lower-cased profile name announces, named by its table key, with the table's
// frame rate, bit rates and qualities; nullopt when the name holds no known key.
//
// A key counts only where it is not part of a longer key found at the same place ("hd1080" holds
// "d1", "4cif" and "qcif" hold "cif"); among the keys left the table's order decides, so a name with
// both "1080p" and "720p" is "1080p". The codec word is taken out first, so that "mpeg4cif" is "cif".
std::optional<ResolutionCapability> LookUpResolution(std::string_view lowerName);

// Reads a "/server" answer: model name, MAC address, software version, feature bits and the brand.
// Missing values leave the record as it was.
void ReadServerAnswer(std::string_view body, DeviceCapabilities& capabilities);

// Reads a "/getprofile" answer into the record's streams; the number of profiles added.
std::uint32_t ReadProfileAnswer(std::string_view body, DeviceCapabilities& capabilities);
}
