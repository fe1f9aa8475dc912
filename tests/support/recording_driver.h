// The family's driver with short time-outs that also keeps every log line, debug lines included (the
// host never sees those).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/format_string.h"
#include "short_timeout_driver.h"

namespace kestrav::testing
{
class RecordingDriver : public ShortTimeoutDriver
{
public:
    void SendDebugMessage(unsigned level, const char* format, ...) override KESTRAV_PRINTF_FORMAT(3, 4)
    {
        va_list arguments;
        va_start(arguments, format);
        const std::string line = FormatStringV(format, arguments);
        va_end(arguments);
        {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        }
        ShortTimeoutDriver::SendDebugMessage(level, "%s", line.c_str());
    }

    std::size_t CountLines(std::string_view part) const
    {
        std::lock_guard lock(m_mutex);
        std::size_t count = 0;
        for (const std::string& line : m_lines)
            count += line.find(part) != std::string::npos ? 1 : 0;
        return count;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};
}
