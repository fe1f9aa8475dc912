// Numbers, sizes and times as the status lines and the summary print them.
#pragma once

#include <cstdint>
#include <string>

#include <brantel/media.h>

namespace kestrav::hostbench
{
// "25.0" for (25.0, 1).
std::string Fixed(double value, int decimals);
// Decimal units, as network rates are: "950 B", "12.3 kB", "4.56 MB", "1.23 GB".
std::string ByteSize(std::uint64_t bytes);
// "12:34:56.789"
std::string TimeOfDay(const ipcapture::SystemTime& time);
// "2024-05-01 12:34:56.789 UTC"
std::string DateAndTime(const ipcapture::SystemTime& time);
// Pads with spaces on the right (or left) to `width` characters; longer texts stay whole.
std::string PadRight(std::string text, std::size_t width);
std::string PadLeft(std::string text, std::size_t width);
}
