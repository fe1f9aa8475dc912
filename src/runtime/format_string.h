// printf-style formatting into a std::string.
#pragma once

#include <cstdarg>
#include <string>

#include "runtime/printf_format.h"

namespace kestrav
{
// Throws std::bad_alloc when the text cannot be allocated.
std::string FormatString(const char* format, ...) KESTRAV_PRINTF_FORMAT(1, 2);
std::string FormatStringV(const char* format, va_list arguments) KESTRAV_PRINTF_FORMAT(1, 0);
}
