// The outcome of an HTTP or camera operation: a level, a code and a text to log later.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/debug_message.h"
#include "runtime/printf_format.h"

namespace kestrav
{
class CResultDef
{
public:
    CResultDef() = default;
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    virtual ~CResultDef() = default;

    // Stores level and code and the formatted text (empty without a format).
    void SetResultEx(std::int32_t level, std::int32_t code, const char* format, ...) KESTRAV_PRINTF_FORMAT(4, 5);
    void SetResult(std::int32_t level, std::int32_t code, const std::string& text);
    // Sends the text as a finished line unless it is empty or of debug level.
    void LogResult(IDebugMessage* sink) const;

    std::int32_t GetLevel() const { return m_level; }
    std::int32_t GetCode() const { return m_code; }
    const std::string& GetText() const { return m_text; }

private:
    std::int32_t m_level = 0;
    std::int32_t m_code = 0;
    std::string m_text;
};
}
