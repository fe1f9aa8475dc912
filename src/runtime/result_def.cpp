#include "runtime/result_def.h"

#include <cstdarg>
#include <new>

#include "platform/thread_termination.h"
#include "runtime/format_string.h"

namespace kestrav
{
void CResultDef::SetResultEx(std::int32_t level, std::int32_t code, const char* format, ...)
{
    m_level = level;
    m_code = code;
    m_text.clear();
    if (format == nullptr)
        return;
    va_list arguments;
    va_start(arguments, format);
    try
    {
        m_text = FormatStringV(format, arguments);
    }
    catch (const std::bad_alloc&)
    {
        m_text.clear();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        m_text = "kestrav::CResultDef::SetResultEx: Unexpected exception during string formatting.";
    }
    va_end(arguments);
}

void CResultDef::SetResult(std::int32_t level, std::int32_t code, const std::string& text)
{
    m_level = level;
    m_code = code;
    m_text = text;
}

void CResultDef::LogResult(IDebugMessage* sink) const
{
    if (sink == nullptr || m_text.empty() || m_level == static_cast<std::int32_t>(kLogDebug))
        return;
    sink->SendDebugMessage(static_cast<unsigned>(m_level), "%s", m_text.c_str());
}
}
