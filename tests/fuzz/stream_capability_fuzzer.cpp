// The stream capability text on any input (the host hands it back from an earlier device search, and
// nothing stops it from changing it): reading never fails, and what was read writes a text that reads
// back into the same codecs and writes the same text again.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/stream_capability_text.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::map<std::uint32_t, kestrav::StreamCapability> ReadStreams(std::string_view text)
{
    std::map<std::uint32_t, kestrav::StreamCapability> streams;
    for (std::uint32_t kind = 0; kind < 3; ++kind)
        streams[kind].codecs = kestrav::ReadStreamCodecs(text, kind);
    return streams;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const auto streams = ReadStreams(text);
    Check(ReadStreamCodecs(text, 3).empty());
    for (const auto& [kind, stream] : streams)
    {
        for (const CodecCapability& codec : stream.codecs)
        {
            Check(codec.codecId >= kCapabilityCodecH264 && codec.codecId <= kCapabilityCodecOther);
            for (const auto& [name, resolution] : codec.resolutions)
            {
                Check(name == resolution.name);
                Check(name.find_first_of(" ,;#:") == std::string::npos);
                Check(resolution.width <= 0x7FFFFFFFu && resolution.height <= 0x7FFFFFFFu);
            }
        }
    }

    const std::string written = WriteStreamCapabilityText(streams);
    const auto reread = ReadStreams(written);
    for (std::uint32_t kind = 0; kind < 3; ++kind)
        Check(reread.at(kind).codecs == streams.at(kind).codecs);
    Check(WriteStreamCapabilityText(reread) == written);
    return 0;
}
