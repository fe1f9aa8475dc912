// UTF-8 (the module's strings) to and from UTF-16 (the wide Win32 calls).
#pragma once

#include <string>
#include <string_view>

namespace kestrav::platform::win32
{
// Empty for empty or invalid input; a path with a zero byte or bad UTF-8 names no file.
std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
}
