#include "core/stream_capability_text.h"

#include <utility>

#include "core/device_detail_texts.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr char kStreamEnd = '#';
constexpr char kCodecEnd = ';';
constexpr char kCodecNameEnd = ':';
constexpr char kResolutionEnd = ',';
constexpr char kFieldSeparator = ' ';
constexpr char kSizeSeparator = 'x';
constexpr char kValueEnd = '-';
constexpr std::size_t kResolutionFieldCount = 5;

const char* CodecPrefix(std::uint32_t codecId)
{
    switch (codecId)
    {
    case kCapabilityCodecH264:
        return "h264:";
    case kCapabilityCodecMpeg4:
        return "mpeg4:";
    case kCapabilityCodecJpeg:
        return "jpeg:";
    default:
        return "";
    }
}

std::uint32_t CodecIdOf(std::string_view name)
{
    if (name == "h264")
        return kCapabilityCodecH264;
    if (name == "mpeg4")
        return kCapabilityCodecMpeg4;
    if (name == "jpeg")
        return kCapabilityCodecJpeg;
    return kCapabilityCodecOther;
}

// Fields joined by a separator (not ended by a terminator, as streams, codecs, resolutions and
// values are): the writer leaves the last one empty for a codec without resolutions ("h264:") or a
// resolution without qualities ("cif 352x240 30 128- "), and it must still count.
std::vector<std::string> SplitSeparated(std::string_view text, char separator)
{
    std::vector<std::string> fields = SplitText(text, separator);
    if (!text.empty() && text.back() == separator)
        fields.emplace_back();
    return fields;
}

// Every field of the text is a count, so a negative number is as meaningless as a word.
std::uint32_t ReadCount(std::string_view text)
{
    const std::int32_t value = ParseStrictIntOrZero(text);
    return value > 0 ? static_cast<std::uint32_t>(value) : 0;
}

void AppendValues(std::string& text, const std::set<std::uint32_t>& values)
{
    for (const std::uint32_t value : values)
    {
        text += std::to_string(value);
        text += kValueEnd;
    }
}

std::set<std::uint32_t> ReadValues(std::string_view text)
{
    std::set<std::uint32_t> values;
    for (const std::string& field : SplitText(text, kValueEnd))
        values.insert(ReadCount(field));
    return values;
}

ResolutionCapability ReadResolution(std::string_view text)
{
    ResolutionCapability resolution;
    resolution.qualities.clear();
    const std::vector<std::string> fields = SplitSeparated(text, kFieldSeparator);
    if (fields.size() != kResolutionFieldCount)
        return resolution;

    resolution.name = fields[0];
    const std::vector<std::string> size = SplitText(fields[1], kSizeSeparator);
    if (size.size() == 2 && ParseStrictInt(size[0]) && ParseStrictInt(size[1]))
    {
        resolution.width = ReadCount(size[0]);
        resolution.height = ReadCount(size[1]);
    }
    resolution.maxFrameRate = ReadCount(fields[2]);
    resolution.bitRates = ReadValues(fields[3]);
    resolution.qualities = ReadValues(fields[4]);
    return resolution;
}

CodecCapability ReadCodecEntry(std::string_view entry)
{
    CodecCapability codec;
    const std::vector<std::string> parts = SplitSeparated(entry, kCodecNameEnd);
    std::string_view resolutions;
    if (parts.size() == 2)
    {
        codec.codecId = CodecIdOf(parts[0]);
        resolutions = parts[1];
    }
    else if (parts.size() == 1)
    {
        // The writer leaves codec 4 without a name but with its resolutions.
        resolutions = entry;
    }
    for (const std::string& text : SplitText(resolutions, kResolutionEnd))
    {
        ResolutionCapability resolution = ReadResolution(text);
        std::string name = resolution.name;
        codec.resolutions.insert_or_assign(std::move(name), std::move(resolution));
    }
    return codec;
}

// Fields 1 and 2 are the live and the remote stream; the main stream takes every other field.
std::uint32_t StreamKindOfField(std::size_t index)
{
    return index == 1 || index == 2 ? static_cast<std::uint32_t>(index) : 0;
}
}

std::string WriteStreamCapabilityText(const std::map<std::uint32_t, StreamCapability>& streams)
{
    std::string text;
    for (const auto& [index, stream] : streams)
    {
        for (const CodecCapability& codec : stream.codecs)
        {
            text += CodecPrefix(codec.codecId);
            for (const auto& [name, resolution] : codec.resolutions)
            {
                text += name;
                text += kFieldSeparator;
                text += std::to_string(resolution.width);
                text += kSizeSeparator;
                text += std::to_string(resolution.height);
                text += kFieldSeparator;
                text += std::to_string(resolution.maxFrameRate);
                text += kFieldSeparator;
                AppendValues(text, resolution.bitRates);
                text += kFieldSeparator;
                AppendValues(text, resolution.qualities);
                text += kResolutionEnd;
            }
            text += kCodecEnd;
        }
        text += kStreamEnd;
    }
    return text;
}

std::vector<CodecCapability> ReadStreamCodecs(std::string_view text, std::uint32_t streamKind)
{
    std::vector<CodecCapability> codecs;
    if (text == kEmptyDetailValue)
        return codecs;
    const std::vector<std::string> streams = SplitText(text, kStreamEnd);
    for (std::size_t index = 0; index < streams.size(); ++index)
    {
        if (StreamKindOfField(index) != streamKind)
            continue;
        for (const std::string& entry : SplitText(streams[index], kCodecEnd))
            codecs.push_back(ReadCodecEntry(entry));
    }
    return codecs;
}
}
