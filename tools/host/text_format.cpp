#include "tools/host/text_format.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kestrav::hostbench
{
std::string Fixed(double value, int decimals)
{
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    if (length < 0)
        return "?";
    return std::string(text.data(), std::min<std::size_t>(static_cast<std::size_t>(length), text.size() - 1));
}

std::string ByteSize(std::uint64_t bytes)
{
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < std::size(kUnits))
    {
        value /= 1000.0;
        ++unit;
    }
    // Three significant digits are what a reader compares.
    const int decimals = value < 10.0 ? 2 : (value < 100.0 ? 1 : 0);
    return Fixed(value, decimals) + " " + kUnits[unit];
}

std::string TimeOfDay(const ipcapture::SystemTime& time)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%02u:%02u:%02u.%03u", unsigned{time.wHour}, unsigned{time.wMinute},
                  unsigned{time.wSecond}, unsigned{time.wMilliseconds});
    return text.data();
}

std::string DateAndTime(const ipcapture::SystemTime& time)
{
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04u-%02u-%02u ", unsigned{time.wYear}, unsigned{time.wMonth},
                  unsigned{time.wDay});
    return text.data() + TimeOfDay(time) + " UTC";
}

std::string PadRight(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

std::string PadLeft(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.insert(0, width - text.size(), ' ');
    return text;
}
}
