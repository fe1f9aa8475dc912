// What one camera can do, gathered during the host's device search and handed back to the
// driver as texts at every later Open.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestrav
{
// Codec ids inside capability data.
constexpr std::uint32_t kCapabilityCodecH264 = 1;
constexpr std::uint32_t kCapabilityCodecMpeg4 = 2;
constexpr std::uint32_t kCapabilityCodecJpeg = 3;
constexpr std::uint32_t kCapabilityCodecOther = 4;

struct ResolutionCapability
{
    std::string name; // a key of the camera's resolution table, such as "1080p"
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t maxFrameRate = 0; // frames per second
    std::set<std::uint32_t> bitRates;
    std::set<std::uint32_t> qualities{20, 30, 40, 50, 60, 70, 80};

    bool operator==(const ResolutionCapability&) const = default;
};

struct CodecCapability
{
    std::uint32_t codecId = kCapabilityCodecOther;
    std::map<std::string, ResolutionCapability> resolutions; // by name

    bool operator==(const CodecCapability&) const = default;
};

struct StreamCapability
{
    std::vector<CodecCapability> codecs; // in the order the camera listed them
    // Raised by any resolution with a higher maximum.
    std::uint32_t maxFrameRate = 30;

    bool operator==(const StreamCapability&) const = default;
};

struct DeviceCapabilities
{
    std::map<std::uint32_t, StreamCapability> streams; // by stream index: 0 main, 1 live, 2 remote
    std::uint32_t inputCount = 0;
    std::uint32_t outputCount = 0;
    // Pan, tilt, focus and iris support.
    std::uint8_t ptzPresent = 0;
    // Zoom support.
    std::uint8_t ptzSecond = 0;
    std::uint32_t ptzPresetCount = 0;
    bool featureFlagA = false;
    bool featureFlagB = false;
    std::string modelName = "IP Device";
    std::string manufacturer = "VARON";
    std::string softwareVersion;
    std::uint32_t rtspPort = 554;
    std::string macAddress;
    bool multipleStreaming = true;

    bool operator==(const DeviceCapabilities&) const = default;
};
}
