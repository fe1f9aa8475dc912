// The "/getprofile" answer reader on any body: profiles it keeps have a known, named size and bounded
// ranges, streams stay in their places, and the stream capability text written from the result reads
// back into the same codecs (the channels choose their profile from it).
//
// Input: one byte whose low bit is the multiple-streaming flag, then the body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/stream_capability_text.h"
#include "http/camera_answer_readers.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    if (size < 1)
        return 0;
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
    DeviceCapabilities capabilities;
    capabilities.multipleStreaming = (data[0] & 1) != 0;
    const std::uint32_t added = ReadProfileAnswer(body, capabilities);

    Check(added <= kMaxProfiles);
    Check((added == 0) == capabilities.streams.empty());
    Check(capabilities.streams.size() <= (capabilities.multipleStreaming ? 3u : 1u));
    std::uint32_t expectedIndex = 0;
    for (const auto& [index, stream] : capabilities.streams)
    {
        Check(index == expectedIndex++);
        Check(stream.maxFrameRate >= 30 && stream.maxFrameRate <= kMaxProfileFrameRate);
        for (const CodecCapability& codec : stream.codecs)
        {
            Check(codec.codecId >= kCapabilityCodecH264 && codec.codecId <= kCapabilityCodecOther);
            for (const auto& [name, resolution] : codec.resolutions)
            {
                Check(!name.empty() && name == resolution.name);
                Check(resolution.width > 0 && resolution.height > 0);
                Check(resolution.maxFrameRate >= 1 && resolution.maxFrameRate <= stream.maxFrameRate);
                Check(!resolution.bitRates.empty() && resolution.bitRates.size() <= kMaxProfileRangeValues);
                Check(!resolution.qualities.empty() && resolution.qualities.size() <= kMaxProfileRangeValues);
                Check(*resolution.bitRates.begin() >= 1 && *resolution.qualities.begin() >= 1);
                Check(*resolution.qualities.rbegin() <= 100);
            }
        }
    }

    const std::string text = WriteStreamCapabilityText(capabilities.streams);
    for (const auto& [index, stream] : capabilities.streams)
        Check(ReadStreamCodecs(text, index) == stream.codecs);
    return 0;
}
