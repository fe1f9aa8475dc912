// An owner that keeps the lines a thread object logs.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/debug_message.h"
#include "runtime/format_string.h"

namespace kestrav::testing
{
struct LoggedLine
{
    unsigned level;
    std::string text;
};

class RecordingOwner : public IDebugMessage
{
public:
    std::string GetDeviceAddress() override { return "192.0.2.7:80"; }

    void SendDebugMessage(unsigned level, const char* format, ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        std::string text = FormatStringV(format, arguments);
        va_end(arguments);
        std::lock_guard lock(m_mutex);
        m_lines.push_back({level, std::move(text)});
    }

    std::vector<LoggedLine> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<LoggedLine> m_lines;
};
}
