#include "platform/win32/utf16.h"

#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform::win32
{
std::wstring Utf8ToWide(std::string_view text)
{
    if (text.empty() || text.size() > 0x7FFFFFFF || text.find('\0') != std::string_view::npos)
        return {};
    const int size = static_cast<int>(text.size());
    // MB_ERR_INVALID_CHARS: bad UTF-8 fails instead of becoming U+FFFD and naming another file.
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length)
        return {};
    return wide;
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty() || text.size() > 0x3FFFFFFF)
        return {};
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr) != length)
        return {};
    return narrow;
}
}
