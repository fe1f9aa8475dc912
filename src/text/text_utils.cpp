#include "text/text_utils.h"

#include <algorithm>
#include <cstdarg>
#include <limits>
#include <new>

#include "platform/net.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::string_view kBlanks = " \t";

std::string_view TrimmedView(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}
}

std::string TrimBlanks(std::string_view text)
{
    return std::string(TrimmedView(text));
}

std::string FindKeyValue(std::string_view key, std::string_view separator, std::string_view text,
                         std::string_view terminators)
{
    if (key.empty() || separator.empty() || terminators.empty())
        return {};

    // Every step resumes at the end of the entry holding the current occurrence, strictly after it, so the
    // search ends, and each entry is scanned a bounded number of times however the text repeats the key.
    std::size_t occurrence = text.find(key);
    while (occurrence != std::string_view::npos)
    {
        const std::size_t keyEnd = occurrence + key.size();
        const std::size_t terminatorAt = text.find_first_of(terminators, keyEnd);
        // A separator further on than this entry's terminator (it may start at the terminator) belongs to
        // another entry. Resume at this entry's end: the key may open the very entry that separator belongs to
        // ("a;a=1"); with no separator anywhere after, no later entry can match either.
        const std::size_t separatorLimit = terminatorAt == std::string_view::npos
                                               ? text.size()
                                               : std::min(text.size(), terminatorAt + separator.size());
        const std::size_t separatorAt = text.substr(0, separatorLimit).find(separator, keyEnd);
        if (separatorAt == std::string_view::npos)
        {
            if (terminatorAt == std::string_view::npos)
                return {};
            occurrence = text.find(key, terminatorAt);
            continue;
        }

        const std::size_t previousTerminator =
            occurrence == 0 ? std::string_view::npos : text.find_last_of(terminators, occurrence - 1);
        const std::size_t entryStart = previousTerminator == std::string_view::npos ? 0 : previousTerminator + 1;
        if (TrimmedView(text.substr(entryStart, separatorAt - entryStart)) == key)
        {
            const std::size_t valueStart = separatorAt + separator.size();
            const std::size_t valueEnd = text.find_first_of(terminators, valueStart);
            const std::string_view value = text.substr(
                valueStart, valueEnd == std::string_view::npos ? std::string_view::npos : valueEnd - valueStart);
            if (!value.empty())
                return std::string(value);
        }
        if (terminatorAt == std::string_view::npos)
            return {};
        occurrence = text.find(key, terminatorAt);
    }
    return {};
}

std::int32_t FindKeyValueNumber(std::string_view key, std::string_view separator, std::string_view text,
                                std::string_view terminators)
{
    return ParseStrictIntOrZero(FindKeyValue(key, separator, text, terminators));
}

std::string RemoveChars(std::string_view text, std::string_view characters)
{
    std::string kept;
    kept.reserve(text.size());
    for (const char character : text)
    {
        if (characters.find(character) == std::string_view::npos)
            kept += character;
    }
    return kept;
}

std::vector<std::string> SplitText(std::string_view text, char delimiter)
{
    std::vector<std::string> fields;
    std::size_t fieldStart = 0;
    while (fieldStart < text.size())
    {
        const std::size_t delimiterAt = text.find(delimiter, fieldStart);
        if (delimiterAt == std::string_view::npos)
        {
            fields.emplace_back(text.substr(fieldStart));
            break;
        }
        fields.emplace_back(text.substr(fieldStart, delimiterAt - fieldStart));
        fieldStart = delimiterAt + 1;
    }
    return fields;
}

std::string ToLowerCopy(std::string_view text)
{
    std::string copy(text);
    for (char& character : copy)
    {
        if (character >= 'A' && character <= 'Z')
            character = static_cast<char>(character - 'A' + 'a');
    }
    return copy;
}

std::string ToUpperCopy(std::string_view text)
{
    std::string copy(text);
    for (char& character : copy)
    {
        if (character >= 'a' && character <= 'z')
            character = static_cast<char>(character - 'a' + 'A');
    }
    return copy;
}

std::optional<std::int32_t> ParseStrictInt(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
    {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;

    // Accumulated as a magnitude so that the most negative value still fits; any digit that would
    // leave the 32-bit range fails instead of wrapping.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                        : static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max());
    std::int64_t magnitude = 0;
    for (const char character : text)
    {
        if (character < '0' || character > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (character - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::int32_t ParseStrictIntOrZero(std::string_view text)
{
    return ParseStrictInt(text).value_or(0);
}

std::uint32_t ResolveIPv4(const std::string& host)
{
    return platform::ResolveHostIPv4(host);
}
}
