#include "tools/host/capability_table.h"

#include <algorithm>
#include <optional>

#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
// Numbered values of the result container.
constexpr std::uint32_t kValuePtz = 1;
constexpr std::uint32_t kValueInputs = 2;
constexpr std::uint32_t kValueOutputs = 3;
constexpr std::uint32_t kValueAudioInputs = 4;
constexpr std::uint32_t kValueMpeg4 = 6;
constexpr std::uint32_t kValueJpeg = 7;
constexpr std::uint32_t kValueH264 = 8;
// Value list of the main stream's frame rates.
constexpr std::int32_t kFrameRateList = 1;
// Named items: the device details.
constexpr std::int32_t kVideoStandard = 1;
constexpr std::int32_t kFirmware = 2;
constexpr std::int32_t kMacAddress = 3;
constexpr std::int32_t kRtspPort = 4;
constexpr std::int32_t kStreamCapabilities = 5;
constexpr std::int32_t kPtzFeatures = 6;
constexpr std::size_t kLabelWidth = 16;
// Longer lists are shown by their ends and their length.
constexpr std::size_t kListedValues = 4;

std::vector<std::string_view> SplitKeepingEmpty(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts = SplitKeepingEmpty(text, separator);
    std::erase_if(parts, [](std::string_view part) { return part.empty(); });
    return parts;
}

std::vector<std::string> Strings(const std::vector<std::string_view>& parts)
{
    return std::vector<std::string>(parts.begin(), parts.end());
}

ProfileCapability ReadProfile(std::string codec, std::string_view text)
{
    ProfileCapability profile;
    profile.codec = std::move(codec);
    const std::vector<std::string_view> fields = SplitKeepingEmpty(text, ' ');
    if (fields.size() != 5)
    {
        profile.name = std::string(text);
        return profile;
    }
    profile.name = std::string(fields[0]);
    profile.size = std::string(fields[1]);
    profile.maxFrameRate = std::string(fields[2]);
    profile.bitRates = Strings(Split(fields[3], '-'));
    profile.qualities = Strings(Split(fields[4], '-'));
    return profile;
}

std::string Text(const hostkit::CapabilitySnapshot& found, std::int32_t id)
{
    const auto item = found.namedItems.find(id);
    if (item == found.namedItems.end() || !item->second.text)
        return "(not reported)";
    return *item->second.text;
}

std::uint32_t Value(const hostkit::CapabilitySnapshot& found, std::uint32_t id)
{
    const auto value = found.values.find(id);
    return value == found.values.end() ? 0 : value->second;
}

// A column of the streams table: at least one space after the text, however long.
std::string Cell(std::string text, std::size_t width)
{
    return PadRight(std::move(text), width - 1) + " ";
}

std::string Row(std::string label, const std::string& value)
{
    return "  " + PadRight(std::move(label), kLabelWidth) + value;
}

std::string ListText(const std::vector<std::string>& values)
{
    if (values.empty())
        return "-";
    if (values.size() <= kListedValues)
    {
        std::string text;
        for (const std::string& value : values)
            text += (text.empty() ? "" : ",") + value;
        return text;
    }
    return values.front() + ".." + values.back() + " (" + std::to_string(values.size()) + ")";
}

std::string PtzText(const std::string& features)
{
    const std::vector<std::string_view> parts = SplitKeepingEmpty(features, ',');
    if (parts.size() != 3)
        return features;
    std::string text;
    if (parts[0] != "0")
        text = "pan, tilt, focus, iris";
    if (parts[1] != "0")
        text += std::string(text.empty() ? "" : ", ") + "zoom";
    if (text.empty())
        return "none";
    return text + "; " + std::string(parts[2]) + " presets";
}

std::string MainCodecs(const hostkit::CapabilitySnapshot& found)
{
    std::string text;
    for (const auto& [id, name] :
         {std::pair{kValueH264, "h264"}, std::pair{kValueMpeg4, "mpeg4"}, std::pair{kValueJpeg, "jpeg"}})
    {
        if (Value(found, id) != 0)
            text += (text.empty() ? "" : ", ") + std::string(name);
    }
    return text.empty() ? "none" : text;
}

std::string MainFrameRates(const hostkit::CapabilitySnapshot& found)
{
    const auto list = found.valueLists.find(kFrameRateList);
    if (list == found.valueLists.end() || list->second.values.empty())
        return "none";
    std::vector<std::string> rates;
    for (const std::uint32_t code : list->second.values)
        rates.push_back(FrameRateCodeText(code));
    std::string text = ListText(rates);
    if (list->second.defaultValue)
        text += ", default " + FrameRateCodeText(*list->second.defaultValue);
    return text;
}

std::string MainResolutions(const hostkit::CapabilitySnapshot& found)
{
    std::string text;
    for (const hostkit::CapabilityResolutionRecord& resolution : found.resolutions)
    {
        text += (text.empty() ? "" : ", ") + resolution.text.value_or("?") + " up to " +
                FrameRateCodeText(resolution.frameRateCode);
    }
    return text.empty() ? "none" : text;
}
}

std::vector<StreamCapabilities> ReadStreamCapabilities(std::string_view text)
{
    static constexpr const char* kKinds[] = {"main", "live", "remote"};
    std::vector<StreamCapabilities> streams;
    for (const std::string_view streamText : Split(text, '#'))
    {
        StreamCapabilities stream;
        stream.kind =
            streams.size() < std::size(kKinds) ? kKinds[streams.size()] : "stream " + std::to_string(streams.size());
        for (const std::string_view codecText : Split(streamText, ';'))
        {
            const std::size_t colon = codecText.find(':');
            const std::string codec =
                colon == std::string_view::npos ? "other" : std::string(codecText.substr(0, colon));
            const std::string_view resolutions =
                colon == std::string_view::npos ? codecText : codecText.substr(colon + 1);
            for (const std::string_view resolution : Split(resolutions, ','))
                stream.profiles.push_back(ReadProfile(codec, resolution));
        }
        streams.push_back(std::move(stream));
    }
    return streams;
}

std::string FrameRateCodeText(std::uint32_t code)
{
    if (code == 0)
        return "1 fps";
    if ((code & 0x7000) == 0x7000)
        return std::to_string(code & 0x0FFF) + " fps";
    // A frame interval in milliseconds, which loses the exact rate (33 ms for 30 fps): the nearest whole rate.
    return std::to_string((2000 / code + 1) / 2) + " fps";
}

std::vector<std::string> FormatCapabilityTable(const std::string& device, const hostkit::CapabilitySnapshot& found)
{
    std::vector<std::string> lines;
    lines.push_back("Camera " + device);
    lines.push_back(Row("Name", found.deviceName.value_or("(not reported)")));
    lines.push_back(Row("Firmware", Text(found, kFirmware)));
    lines.push_back(Row("MAC address", Text(found, kMacAddress)));
    lines.push_back(Row("RTSP port", Text(found, kRtspPort)));
    const std::string standard = Text(found, kVideoStandard);
    // Any value but 0 stands for 30 frames per second.
    const bool numeric = !standard.empty() && standard.find_first_not_of("0123456789") == std::string::npos;
    lines.push_back(Row("Video standard", !numeric ? standard : standard == "0" ? "25 fps" : "30 fps"));
    lines.push_back(Row("PTZ", Value(found, kValuePtz) != 0 ? PtzText(Text(found, kPtzFeatures)) : "none"));
    lines.push_back(Row("Inputs", std::to_string(Value(found, kValueInputs))));
    lines.push_back(Row("Relays", std::to_string(Value(found, kValueOutputs))));
    if (const std::uint32_t audio = Value(found, kValueAudioInputs); audio != 0)
        lines.push_back(Row("Audio inputs", std::to_string(audio)));
    lines.push_back(Row("Main codecs", MainCodecs(found)));
    lines.push_back(Row("Main sizes", MainResolutions(found)));
    lines.push_back(Row("Main rates", MainFrameRates(found)));

    const std::vector<StreamCapabilities> streams = ReadStreamCapabilities(Text(found, kStreamCapabilities));
    lines.push_back("Streams");
    lines.push_back("  " + Cell("stream", 8) + Cell("codec", 7) + Cell("profile", 9) + Cell("size", 11) +
                    Cell("max fps", 9) + Cell("bit rates", 22) + "qualities");
    for (const StreamCapabilities& stream : streams)
    {
        for (const ProfileCapability& profile : stream.profiles)
        {
            lines.push_back("  " + Cell(stream.kind, 8) + Cell(profile.codec, 7) + Cell(profile.name, 9) +
                            Cell(profile.size, 11) + Cell(profile.maxFrameRate, 9) +
                            Cell(ListText(profile.bitRates), 22) + ListText(profile.qualities));
        }
    }
    if (streams.empty())
        lines.push_back("  (none reported)");
    return lines;
}
}
