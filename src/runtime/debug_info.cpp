#include "runtime/debug_info.h"

#include <cstring>
#include <new>

namespace kestrav
{
CDebugInfo::CDebugInfo(std::string_view text, std::uint8_t level) noexcept : m_level(level)
{
    if (text.empty())
        return;
    m_text.reset(new (std::nothrow) char[text.size() + 1]);
    if (m_text == nullptr)
        return;
    std::memcpy(m_text.get(), text.data(), text.size());
    m_text[text.size()] = '\0';
}
}
