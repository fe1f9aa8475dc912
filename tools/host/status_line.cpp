#include "tools/host/status_line.h"

#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
// Log texts carry what cameras sent; a control character in them must not steer the terminal.
void AppendVisible(std::string& line, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else if ((byte < 0x20 && c != '\t') || byte == 0x7F)
        {
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0x0F];
        }
        else
            line += c;
    }
}
}

std::string FormatStatusLine(std::string_view name, StreamState state, const StreamCounters& counters,
                             const Rates& live)
{
    // Names of several devices run longer than the column; a blank still parts them from the state.
    std::string line = PadRight(std::string(name) + " ", 16);
    line += PadRight(std::string(StateName(state)), 13);
    line += PadLeft(std::to_string(counters.frames), 7) + " frames ";
    line += PadLeft(Fixed(live.framesPerSecond, 1), 6) + " fps ";
    line += PadLeft(Fixed(live.kilobitsPerSecond, 1), 8) + " kbit/s";
    if (counters.lastCaptureTime)
        line += "  last " + TimeOfDay(*counters.lastCaptureTime);
    return line;
}

std::string_view LevelName(std::uint8_t level)
{
    switch (level)
    {
    case 1:
        return "error";
    case 2:
        return "warning";
    case 3:
        return "info";
    case 4:
        return "debug";
    case 100:
        return "event";
    default:
        return "level?";
    }
}

std::string FormatLogLine(std::uint8_t level, std::string_view text)
{
    std::string line = "[module ";
    const std::string_view name = LevelName(level);
    line += name == "level?" ? "level " + std::to_string(level) : std::string(name);
    line += "] ";
    AppendVisible(line, text);
    return line;
}
}
