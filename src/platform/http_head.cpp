#include "platform/http_head.h"

#include <algorithm>
#include <cstring>

namespace kestrav::platform
{
namespace
{
char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}
}

bool IsRequestVerb(std::string_view verb)
{
    return !verb.empty() && verb.find_first_of(" \t\r\n") == std::string_view::npos;
}

bool IsSingleLine(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string RequestTarget(std::string_view objectName)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string target;
    target.reserve(objectName.size() + 1);
    // An origin-form target: a camera's server answers 400 to one without its leading slash.
    if (objectName.empty() || objectName.front() != '/')
        target.push_back('/');
    for (const char c : objectName)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || std::strchr("\"<>\\^`{|}#", c) != nullptr)
        {
            target.push_back('%');
            target.push_back(kHex[byte >> 4]);
            target.push_back(kHex[byte & 0x0F]);
        }
        else
            target.push_back(c);
    }
    return target;
}

bool IsServerName(std::string_view serverName)
{
    if (serverName.empty() || serverName.size() > 253)
        return false;
    return std::all_of(serverName.begin(), serverName.end(),
                       [](char c)
                       {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                  c == '.' || c == '-' || c == '_';
                       });
}

std::string_view HeaderName(std::string_view line)
{
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return {};
    const std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t") != std::string_view::npos)
        return {};
    return name;
}

bool SameHeaderName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::uint32_t ParseStatusCode(std::string_view statusLine)
{
    const auto space = statusLine.find(' ');
    if (space == std::string_view::npos || statusLine.size() < space + 4)
        return 0;
    std::uint32_t status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i)
    {
        if (statusLine[i] < '0' || statusLine[i] > '9')
            return 0;
        status = status * 10 + static_cast<std::uint32_t>(statusLine[i] - '0');
    }
    return status;
}

std::optional<std::uint32_t> ParseContentLength(std::string_view text)
{
    text = TrimBlanks(text);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}
}
