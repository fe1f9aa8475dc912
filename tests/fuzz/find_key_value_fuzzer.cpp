// FindKeyValue on any text (RTSP headers, Digest challenges and CGI answers come from the camera), compared with
// an entry-by-entry model of it; and the strict number parse compared with std::from_chars.
//
// Input: three length bytes (key, separator, terminators), then those three texts, then the text searched.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/text_utils.h"

namespace
{
constexpr std::string_view kBlanks = " \t";

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

std::string_view Take(std::string_view& input, std::size_t length)
{
    const std::string_view field = input.substr(0, length);
    input.remove_prefix(field.size());
    return field;
}

bool ContainsAnyOf(std::string_view text, std::string_view characters)
{
    return text.find_first_of(characters) != std::string_view::npos;
}

// The value of the first entry (text between terminators) that reads blanks, key, blanks, separator, value with a
// value that is not empty. Holds for keys without terminators and without blanks at their ends, and for separators
// without terminators.
std::string EntryModel(std::string_view key, std::string_view separator, std::string_view text,
                       std::string_view terminators)
{
    std::size_t entryStart = 0;
    while (entryStart <= text.size())
    {
        const std::size_t entryEnd = std::min(text.find_first_of(terminators, entryStart), text.size());
        std::string_view entry = text.substr(entryStart, entryEnd - entryStart);
        entry.remove_prefix(std::min(entry.find_first_not_of(kBlanks), entry.size()));
        if (entry.substr(0, key.size()) == key)
        {
            const std::string_view rest = entry.substr(key.size());
            const std::size_t separatorAt = rest.find(separator);
            if (separatorAt != std::string_view::npos &&
                rest.substr(0, separatorAt).find_first_not_of(kBlanks) == std::string_view::npos &&
                separatorAt + separator.size() < rest.size())
            {
                return std::string(rest.substr(separatorAt + separator.size()));
            }
        }
        entryStart = entryEnd + 1;
    }
    return {};
}

std::optional<std::int32_t> FromCharsModel(std::string_view text)
{
    // from_chars takes a "-" but no "+".
    if (!text.empty() && text.front() == '+')
    {
        text.remove_prefix(1);
        if (text.empty() || text.front() == '-')
            return std::nullopt;
    }
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void CheckStrictInt(std::string_view text)
{
    Check(kestrav::ParseStrictInt(text) == FromCharsModel(text));
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kestrav;
    if (size < 3)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::string_view key = Take(input, data[0]);
    const std::string_view separator = Take(input, data[1]);
    const std::string_view terminators = Take(input, data[2]);
    const std::string_view text = input;

    const std::string value = FindKeyValue(key, separator, text, terminators);
    Check(value.size() <= text.size());
    Check(!ContainsAnyOf(value, terminators));
    if (key.empty() || separator.empty() || terminators.empty())
        Check(value.empty());
    else if (kBlanks.find(key.front()) != std::string_view::npos || kBlanks.find(key.back()) != std::string_view::npos)
        Check(value.empty());
    else if (!ContainsAnyOf(key, terminators) && !ContainsAnyOf(separator, terminators))
        Check(value == EntryModel(key, separator, text, terminators));

    Check(FindKeyValueNumber(key, separator, text, terminators) == ParseStrictIntOrZero(value));
    CheckStrictInt(value);
    CheckStrictInt(key);
    CheckStrictInt(text);
    return 0;
}
