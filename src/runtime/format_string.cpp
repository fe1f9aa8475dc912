#include "runtime/format_string.h"

#include <cstdio>
#include <new>

namespace kestrav
{
std::string FormatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text;
    bool outOfMemory = false;
    try
    {
        text = FormatStringV(format, arguments);
    }
    catch (const std::bad_alloc&)
    {
        outOfMemory = true;
    }
    va_end(arguments);
    if (outOfMemory)
        throw std::bad_alloc();
    return text;
}

std::string FormatStringV(const char* format, va_list arguments)
{
    if (format == nullptr)
        return {};
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}
}
