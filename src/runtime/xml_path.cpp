#include "runtime/xml_path.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <type_traits>

namespace kestrav
{
namespace
{
// A width or precision beyond the path's own limit only adds characters that are cut anyway.
constexpr int kMaximumFieldWidth = static_cast<int>(kMaximumXmlPathLength) + 1;

bool IsNameStart(unsigned char character)
{
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') || character == '_' ||
           character >= 0x80;
}

bool IsNameCharacter(unsigned char character)
{
    return IsNameStart(character) || (character >= '0' && character <= '9') || character == '-' || character == '.';
}

// A name that is cut in the middle of a character would make the saved file unreadable.
bool IsWellFormedUtf8(std::string_view text)
{
    std::size_t index = 0;
    while (index < text.size())
    {
        const auto lead = static_cast<unsigned char>(text[index]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80)
        {
            ++index;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF)
        {
            length = 2;
            code = lead & 0x1Fu;
        }
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            length = 3;
            code = lead & 0x0Fu;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            length = 4;
            code = lead & 0x07u;
        }
        else
        {
            return false;
        }
        if (text.size() - index < length)
            return false;
        for (std::size_t next = 1; next < length; ++next)
        {
            const auto continuation = static_cast<unsigned char>(text[index + next]);
            if ((continuation & 0xC0u) != 0x80u)
                return false;
            code = (code << 6) | (continuation & 0x3Fu);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        if (overlong || surrogate || code > 0x10FFFF)
            return false;
        index += length;
    }
    return true;
}

bool ReadName(std::string_view path, std::size_t& index, std::string& name)
{
    const std::size_t start = index;
    if (index >= path.size() || !IsNameStart(static_cast<unsigned char>(path[index])))
        return false;
    while (index < path.size() && IsNameCharacter(static_cast<unsigned char>(path[index])))
        ++index;
    name.assign(path.substr(start, index - start));
    return IsWellFormedUtf8(name);
}

bool Expect(std::string_view path, std::size_t& index, char expected)
{
    if (index >= path.size() || path[index] != expected)
        return false;
    ++index;
    return true;
}

bool ReadQuotedValue(std::string_view path, std::size_t& index, std::string& value)
{
    if (!Expect(path, index, '"'))
        return false;
    while (index < path.size())
    {
        const char character = path[index++];
        if (character == '"')
            return true;
        if (character == '\\')
        {
            if (index >= path.size())
                return false;
            value += path[index++];
        }
        else
        {
            value += character;
        }
    }
    return false;
}

bool ReadCondition(std::string_view path, std::size_t& index, XmlPathCondition& condition)
{
    return Expect(path, index, '[') && Expect(path, index, '@') && ReadName(path, index, condition.attribute) &&
           Expect(path, index, '=') && ReadQuotedValue(path, index, condition.value) && Expect(path, index, ']');
}

// One conversion of a printf format, taken apart so that text arguments can be escaped.
struct Conversion
{
    std::string flags;
    int width = -1;
    int precision = -1;
    std::string length;
    char type = 0;
    bool leftAligned = false;

    std::string Directive() const
    {
        std::string directive = "%" + flags;
        if (leftAligned && flags.find('-') == std::string::npos)
            directive += '-';
        if (width >= 0)
            directive += std::to_string(width);
        if (precision >= 0)
            directive += "." + std::to_string(precision);
        return directive + length + type;
    }
};

int ReadDecimal(const char* format, std::size_t& index)
{
    int value = 0;
    while (format[index] >= '0' && format[index] <= '9')
    {
        value = std::min(value * 10 + (format[index] - '0'), kMaximumFieldWidth);
        ++index;
    }
    return value;
}

template <typename Value> void AppendPrintf(std::string& path, const Conversion& conversion, Value value)
{
    const std::string directive = conversion.Directive();
    const int length = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (length <= 0)
        return;
    std::string piece(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(piece.data(), piece.size(), directive.c_str(), value);
    piece.resize(static_cast<std::size_t>(length));
    path += piece;
}

void AppendText(std::string& path, const Conversion& conversion, std::string_view text)
{
    if (conversion.precision >= 0)
        text = text.substr(0, static_cast<std::size_t>(conversion.precision));
    const std::string escaped = EscapeXmlPathValue(text);
    const std::size_t width = conversion.width > 0 ? static_cast<std::size_t>(conversion.width) : 0;
    const std::size_t padding = width > escaped.size() ? width - escaped.size() : 0;
    if (!conversion.leftAligned)
        path.append(padding, ' ');
    path += escaped;
    if (conversion.leftAligned)
        path.append(padding, ' ');
}

// Appends one conversion's output; false for a conversion that is not supported. Paths hold
// names, texts and whole numbers, so those are all it knows.
bool AppendConversion(std::string& path, const Conversion& conversion, va_list& arguments)
{
    const std::string& length = conversion.length;
    const bool plain = length.empty() || length == "h" || length == "hh";
    switch (conversion.type)
    {
    case 'd':
    case 'i':
        if (plain)
            AppendPrintf(path, conversion, va_arg(arguments, int));
        else if (length == "l")
            AppendPrintf(path, conversion, va_arg(arguments, long));
        else if (length == "ll")
            AppendPrintf(path, conversion, va_arg(arguments, long long));
        else if (length == "z")
            AppendPrintf(path, conversion, va_arg(arguments, std::make_signed_t<std::size_t>));
        else
            return false;
        return true;
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        if (plain)
            AppendPrintf(path, conversion, va_arg(arguments, unsigned));
        else if (length == "l")
            AppendPrintf(path, conversion, va_arg(arguments, unsigned long));
        else if (length == "ll")
            AppendPrintf(path, conversion, va_arg(arguments, unsigned long long));
        else if (length == "z")
            AppendPrintf(path, conversion, va_arg(arguments, std::size_t));
        else
            return false;
        return true;
    case 'c':
    {
        if (!length.empty())
            return false;
        // A precision means nothing to a character.
        Conversion character = conversion;
        character.precision = -1;
        AppendText(path, character, std::string(1, static_cast<char>(va_arg(arguments, int))));
        return true;
    }
    case 's':
    {
        if (!length.empty())
            return false;
        const char* text = va_arg(arguments, const char*);
        AppendText(path, conversion, text != nullptr ? std::string_view(text) : std::string_view());
        return true;
    }
    default:
        // Including %n, which would write through an argument, and floating point.
        return false;
    }
}

// Reads the conversion that starts after a "%" at `index`; false when the format ends first.
bool ReadConversion(const char* format, std::size_t& index, va_list& arguments, Conversion& conversion)
{
    static constexpr std::string_view kFlags = "-+ #0";
    while (format[index] != '\0' && kFlags.find(format[index]) != std::string_view::npos)
    {
        conversion.leftAligned = conversion.leftAligned || format[index] == '-';
        conversion.flags += format[index++];
    }
    if (format[index] == '*')
    {
        ++index;
        const int width = va_arg(arguments, int);
        // A negative width from an argument means a left-aligned field.
        conversion.leftAligned = conversion.leftAligned || width < 0;
        conversion.width = width < 0 ? (width < -kMaximumFieldWidth ? kMaximumFieldWidth : -width)
                                     : std::min(width, kMaximumFieldWidth);
    }
    else if (format[index] >= '0' && format[index] <= '9')
    {
        conversion.width = ReadDecimal(format, index);
    }
    if (format[index] == '.')
    {
        ++index;
        if (format[index] == '*')
        {
            ++index;
            const int precision = va_arg(arguments, int);
            // A negative precision from an argument counts as none.
            conversion.precision = precision < 0 ? -1 : std::min(precision, kMaximumFieldWidth);
        }
        else
        {
            conversion.precision = ReadDecimal(format, index);
        }
    }
    static constexpr std::string_view kLengths = "hlz";
    while (format[index] != '\0' && kLengths.find(format[index]) != std::string_view::npos &&
           conversion.length.size() < 2)
        conversion.length += format[index++];
    if (format[index] == '\0')
        return false;
    conversion.type = format[index++];
    return true;
}
}

std::string EscapeXmlPathValue(std::string_view value)
{
    std::string escaped;
    escaped.reserve(value.size());
    for (const char character : value)
    {
        if (character == '"' || character == '\\')
            escaped += '\\';
        escaped += character;
    }
    return escaped;
}

std::string FormatXmlPath(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string path;
    // va_end must run on every path; the only failure of the formatting is running out of memory.
    bool outOfMemory = false;
    try
    {
        path = FormatXmlPathV(format, arguments);
    }
    catch (const std::bad_alloc&)
    {
        outOfMemory = true;
    }
    va_end(arguments);
    if (outOfMemory)
        throw std::bad_alloc();
    return path;
}

std::string FormatXmlPathV(const char* format, va_list arguments)
{
    if (format == nullptr)
        return {};
    va_list remaining;
    va_copy(remaining, arguments);
    std::string path;
    bool supported = true;
    std::size_t index = 0;
    while (format[index] != '\0' && path.size() <= kMaximumXmlPathLength)
    {
        if (format[index] != '%')
        {
            path += format[index++];
            continue;
        }
        ++index;
        if (format[index] == '%')
        {
            path += format[index++];
            continue;
        }
        Conversion conversion;
        if (!ReadConversion(format, index, remaining, conversion) || !AppendConversion(path, conversion, remaining))
        {
            supported = false;
            break;
        }
    }
    va_end(remaining);
    if (!supported)
        return {};
    if (path.size() > kMaximumXmlPathLength)
        path.resize(kMaximumXmlPathLength);
    return path;
}

std::optional<std::vector<XmlPathStep>> ParseXmlPath(std::string_view path)
{
    std::size_t index = 0;
    if (!path.empty() && path.front() == '/')
        ++index;
    std::vector<XmlPathStep> steps;
    while (true)
    {
        XmlPathStep step;
        if (!ReadName(path, index, step.element))
            return std::nullopt;
        while (index < path.size() && path[index] == '[')
        {
            XmlPathCondition condition;
            if (!ReadCondition(path, index, condition))
                return std::nullopt;
            step.conditions.push_back(std::move(condition));
        }
        steps.push_back(std::move(step));
        if (index == path.size())
            return steps;
        if (!Expect(path, index, '/'))
            return std::nullopt;
    }
}
}
