// One stream's live status line and the module's log lines as the program prints them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/host/stream_stats.h"

namespace kestrav::hostbench
{
// "ch0-main-h264   receiving       250 frames  25.0 fps   512.3 kbit/s  last 12:34:56.789"; the
// time is the capture time of the last frame as the module stamped it (UTC).
std::string FormatStatusLine(std::string_view name, StreamState state, const StreamCounters& counters,
                             const Rates& live);

// The module's levels: 1 error, 2 warning, 3 info, 4 debug, 100 driver event.
std::string_view LevelName(std::uint8_t level);
// "[module warning] text", with control characters of the text shown as escapes.
std::string FormatLogLine(std::uint8_t level, std::string_view text);
}
