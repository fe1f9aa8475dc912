// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <string>

namespace kestrav
{
// Throws std::bad_alloc when the text cannot be allocated.
std::string FormatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatStringV(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
}
