#include "http/camera_answer_readers.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr std::string_view kLineEnd = "\r\n";

std::string FindAnswerValue(std::string_view body, std::string_view key)
{
    return FindKeyValue(key, "=", body, kLineEnd);
}

// ---------------------------------------------------------------------------------------------------
// The resolution table: the sizes this camera family means by the words in its profile names, with the
// bit rates (kbit/s) it offers for them.
// ---------------------------------------------------------------------------------------------------
constexpr std::uint32_t kMegapixelRates[] = {1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192, 9216, 10240};
constexpr std::uint32_t kFullHdRates[] = {1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192};
constexpr std::uint32_t kHdRates[] = {1024, 2048, 3072, 4096, 5120};
constexpr std::uint32_t kSdRates[] = {128, 256, 512, 1024, 2048, 3072};
constexpr std::uint32_t kCifRates[] = {128, 256, 512, 1024, 2048};
constexpr std::uint32_t kQcifRates[] = {64, 128, 256, 512};

struct ResolutionRow
{
    std::string_view key;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t maxFrameRate;
    std::span<const std::uint32_t> bitRates;
};

// Tried in this order among the keys a name holds. "hd1080", "hd720", "4cif" and "qcif" are the
// longer words that hold "d1" and "cif": without rows of their own such names would get the size of
// the short word. "d1" and "480p" are one size under two names; the camera serves each by its own.
constexpr std::array kResolutionTable{
    ResolutionRow{"5m", 2592, 1944, 12, kMegapixelRates},  ResolutionRow{"3m", 2048, 1536, 15, kMegapixelRates},
    ResolutionRow{"hd1080", 1920, 1080, 30, kFullHdRates}, ResolutionRow{"1080p", 1920, 1080, 30, kFullHdRates},
    ResolutionRow{"sxga", 1280, 1024, 30, kHdRates},       ResolutionRow{"hd720", 1280, 720, 30, kHdRates},
    ResolutionRow{"720p", 1280, 720, 30, kHdRates},        ResolutionRow{"960h", 960, 480, 30, kHdRates},
    ResolutionRow{"4cif", 704, 576, 30, kSdRates},         ResolutionRow{"d1", 720, 480, 30, kSdRates},
    ResolutionRow{"480p", 720, 480, 30, kSdRates},         ResolutionRow{"qcif", 176, 144, 30, kQcifRates},
    ResolutionRow{"cif", 352, 240, 30, kCifRates},
};

// The codec words of profile names, longest first where one holds another.
constexpr std::string_view kCodecWords[] = {"h.264", "h264", "mjpeg", "jpeg", "mpeg-4", "mpeg4"};

std::string WithoutCodecWords(std::string_view lowerName)
{
    // One pass: a name is network input and may be long.
    std::string name;
    name.reserve(lowerName.size());
    std::size_t at = 0;
    while (at < lowerName.size())
    {
        const std::string_view rest = lowerName.substr(at);
        const auto word = std::find_if(std::begin(kCodecWords), std::end(kCodecWords),
                                       [rest](std::string_view codec) { return rest.starts_with(codec); });
        if (word == std::end(kCodecWords))
        {
            name += lowerName[at++];
            continue;
        }
        // A blank keeps the pieces on either side from joining into a key.
        name += ' ';
        at += word->size();
    }
    return name;
}

// Whether a longer key than `row`'s lies over the characters from `at` to `end` of `name`.
bool InsideLongerKey(std::string_view name, const ResolutionRow& row, std::size_t at, std::size_t end)
{
    for (const ResolutionRow& other : kResolutionTable)
    {
        if (other.key.size() <= row.key.size())
            continue;
        // Only the few places where the longer key could start and still reach `end`: a name is network
        // input and may be long, so nothing here scans it whole.
        for (std::size_t start = end >= other.key.size() ? end - other.key.size() : 0; start <= at; ++start)
        {
            if (name.substr(start, other.key.size()) == other.key)
                return true;
        }
    }
    return false;
}

// Whether `name` holds `row`'s key somewhere that is not inside a longer key found there too.
bool HoldsKeyOnItsOwn(std::string_view name, const ResolutionRow& row)
{
    for (std::size_t at = name.find(row.key); at != std::string_view::npos; at = name.find(row.key, at + 1))
    {
        if (!InsideLongerKey(name, row, at, at + row.key.size()))
            return true;
    }
    return false;
}

// A decimal number from the leading digits; 0 when there are none. Bounded: the value only ever picks
// one of two brands.
std::uint32_t LeadingNumber(std::string_view text)
{
    std::uint32_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9' || value > 100000000)
            break;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

void ReadFeatureBits(std::string_view text, DeviceCapabilities& capabilities)
{
    // Some firmware writes the number with thousands separators; only what comes before the first "," counts.
    const std::string_view first = text.substr(0, text.find(','));
    const auto bits = static_cast<std::uint32_t>(ParseStrictIntOrZero(RemoveChars(first, " ")));
    if ((bits & 0x20u) != 0 || (bits & 0x20000u) != 0)
    {
        capabilities.ptzPresent = 1;
        capabilities.ptzSecond = 1;
        capabilities.ptzPresetCount = 128;
    }
    else if ((bits & 0x200000u) != 0 || (bits & 0x100000u) != 0)
    {
        capabilities.ptzSecond = 1;
        capabilities.ptzPresent = (bits & 0x200000u) != 0 ? 1 : 0;
        capabilities.ptzPresetCount = 0;
    }
    if ((bits & 0x1u) != 0)
        capabilities.inputCount = 1;
    if ((bits & 0x2u) != 0)
        capabilities.outputCount = 1;
    if ((bits & 0x1000u) != 0)
        capabilities.featureFlagA = true;
    if ((bits & 0x40000u) != 0)
        capabilities.featureFlagB = true;
}

enum class RangeOutcome
{
    Absent, // nothing usable given: the table's values stay
    Taken,
    Broken, // the profile is not to be believed
};

// "min~max": min below max, both within 1 to kMaxProfileFrameRate. Not two parts, or min not below
// max, keeps the table's rate; a number out of bounds (a negative one wraps) breaks the profile.
RangeOutcome ReadFrameRateRange(std::string_view text, std::uint32_t& maxFrameRate)
{
    const std::vector<std::string> parts = SplitText(text, '~');
    if (parts.size() != 2)
        return RangeOutcome::Absent;
    const std::int32_t low = ParseStrictIntOrZero(TrimBlanks(parts[0]));
    const std::int32_t high = ParseStrictIntOrZero(TrimBlanks(parts[1]));
    const auto inBounds = [](std::int32_t value)
    { return value >= 1 && static_cast<std::uint32_t>(value) <= kMaxProfileFrameRate; };
    if (!inBounds(low) || !inBounds(high))
        return RangeOutcome::Broken;
    if (low >= high)
        return RangeOutcome::Absent;
    maxFrameRate = static_cast<std::uint32_t>(high);
    return RangeOutcome::Taken;
}

// A ","-separated list of numbers from 1 to `highest`; empty fields are passed over. At most
// kMaxProfileRangeValues distinct values are kept, the first ones listed.
RangeOutcome ReadValueList(std::string_view text, std::uint32_t highest, std::set<std::uint32_t>& values)
{
    std::set<std::uint32_t> read;
    for (const std::string& part : SplitText(text, ','))
    {
        const std::string field = TrimBlanks(part);
        if (field.empty())
            continue;
        const std::optional<std::int32_t> value = ParseStrictInt(field);
        if (!value || *value < 1 || static_cast<std::uint32_t>(*value) > highest)
            return RangeOutcome::Broken;
        if (read.size() < kMaxProfileRangeValues)
            read.insert(static_cast<std::uint32_t>(*value));
    }
    if (read.empty())
        return RangeOutcome::Absent;
    values = std::move(read);
    return RangeOutcome::Taken;
}

constexpr std::uint32_t kMaxBitRate = 0x7FFFFFFF;
constexpr std::uint32_t kMaxQuality = 100;

// The resolution of one profile with its announced ranges applied; nullopt when the profile is left out.
std::optional<ResolutionCapability> ReadProfileResolution(std::string_view body, const std::string& prefix,
                                                          std::string_view lowerName)
{
    std::optional<ResolutionCapability> resolution = LookUpResolution(lowerName);
    if (!resolution)
        return std::nullopt;
    if (ReadFrameRateRange(FindAnswerValue(body, prefix + "fps_range"), resolution->maxFrameRate) ==
            RangeOutcome::Broken ||
        ReadValueList(FindAnswerValue(body, prefix + "bps_range"), kMaxBitRate, resolution->bitRates) ==
            RangeOutcome::Broken ||
        ReadValueList(FindAnswerValue(body, prefix + "quality_range"), kMaxQuality, resolution->qualities) ==
            RangeOutcome::Broken)
    {
        return std::nullopt;
    }
    return resolution;
}

void AddProfile(DeviceCapabilities& capabilities, std::uint32_t streamIndex, std::uint32_t codecId,
                ResolutionCapability resolution)
{
    StreamCapability& stream = capabilities.streams[streamIndex];
    auto codec = std::find_if(stream.codecs.begin(), stream.codecs.end(),
                              [codecId](const CodecCapability& entry) { return entry.codecId == codecId; });
    if (codec == stream.codecs.end())
    {
        stream.codecs.push_back(CodecCapability{codecId, {}});
        codec = std::prev(stream.codecs.end());
    }
    stream.maxFrameRate = std::max(stream.maxFrameRate, resolution.maxFrameRate);
    const std::string name = resolution.name;
    codec->resolutions.insert_or_assign(name, std::move(resolution));
}
}

std::uint32_t FrameRateCode(std::uint32_t framesPerSecond)
{
    if (framesPerSecond == 0)
        return 1000;
    if (framesPerSecond <= 30)
        return (2000 + framesPerSecond) / (2 * framesPerSecond); // 1000 / f, rounded half up
    return framesPerSecond | 0x70000000u;
}

std::string CAudioCapabilities::GetText() const
{
    return FormatText("Count=%u; IsStereo=%u", channelCount, isStereo ? 1u : 0u);
}

std::uint32_t ClassifyProfileCodec(std::string_view lowerName)
{
    const auto holds = [lowerName](std::string_view word) { return lowerName.find(word) != std::string_view::npos; };
    if (holds("h264") || holds("h.264"))
        return kCapabilityCodecH264;
    if (holds("jpeg"))
        return kCapabilityCodecJpeg; // also "mjpeg"
    if (holds("mpeg4") || holds("mpeg-4"))
        return kCapabilityCodecMpeg4;
    return kCapabilityCodecOther;
}

std::optional<ResolutionCapability> LookUpResolution(std::string_view lowerName)
{
    const std::string name = WithoutCodecWords(lowerName);
    for (const ResolutionRow& row : kResolutionTable)
    {
        if (!HoldsKeyOnItsOwn(name, row))
            continue;
        ResolutionCapability resolution;
        resolution.name = std::string(row.key);
        resolution.width = row.width;
        resolution.height = row.height;
        resolution.maxFrameRate = row.maxFrameRate;
        resolution.bitRates.insert(row.bitRates.begin(), row.bitRates.end());
        return resolution;
    }
    return std::nullopt;
}

void ReadServerAnswer(std::string_view body, DeviceCapabilities& capabilities)
{
    if (std::string value = FindAnswerValue(body, "Model Name"); !value.empty())
        capabilities.modelName = std::move(value);
    if (std::string value = FindAnswerValue(body, "MAC address"); !value.empty())
        capabilities.macAddress = std::move(value);
    if (std::string value = FindAnswerValue(body, "Software Version"); !value.empty())
        capabilities.softwareVersion = std::move(value);
    if (const std::string value = FindAnswerValue(body, "SysFeature"); !value.empty())
        ReadFeatureBits(value, capabilities);
    const std::uint32_t logo = LeadingNumber(FindAnswerValue(body, "logoEnable"));
    if (logo == 1)
        capabilities.manufacturer = "VARON";
    else if (logo == 15)
        capabilities.manufacturer = "Brantel";
}

std::uint32_t ReadProfileAnswer(std::string_view body, DeviceCapabilities& capabilities)
{
    std::uint32_t added = 0;
    for (std::uint32_t index = 0; index < kMaxProfiles; ++index)
    {
        // The camera's own numbering: "profile_0" and the index, so profile 10 is "profile_010_".
        const std::string prefix = "profile_0" + std::to_string(index) + "_";
        const std::string name = FindAnswerValue(body, prefix + "name");
        if (name.empty())
            break;
        const std::string lowerName = ToLowerCopy(name);
        // A name of no known size, or ranges that make no sense, leave the profile out: the channels
        // must never pick an unnamed, zero-sized resolution.
        std::optional<ResolutionCapability> resolution = ReadProfileResolution(body, prefix, lowerName);
        if (!resolution)
            continue;
        const std::uint32_t streamIndex = capabilities.multipleStreaming && index <= 2 ? index : 0;
        AddProfile(capabilities, streamIndex, ClassifyProfileCodec(lowerName), std::move(*resolution));
        ++added;
    }
    // The stream capability text places a stream by its position, so a left-out profile keeps its stream
    // as an empty one: otherwise the remote stream would be read back as the live one.
    if (!capabilities.streams.empty())
    {
        const std::uint32_t highest = capabilities.streams.rbegin()->first;
        for (std::uint32_t index = 0; index < highest; ++index)
            capabilities.streams.try_emplace(index);
    }
    return added;
}
}
