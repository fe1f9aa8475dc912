// The log record the driver hands to the host's debug sink.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include <brantel/debug_info.h>

namespace kestrav
{
class CDebugInfo : public CDebugInfoIf
{
public:
    // Never throws: a copy that cannot be allocated leaves the text null.
    CDebugInfo(std::string_view text, std::uint8_t level) noexcept;

    std::uint8_t GetLevel() const override { return m_level; }
    const char* GetText() const override { return m_text.get(); }

private:
    std::uint8_t m_level;
    std::unique_ptr<char[]> m_text;
};
}
