#include "tools/host/process_usage.h"

#include <charconv>

#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
// The number at the start of a field's value ("   1234 kB" gives 1234).
std::optional<std::uint64_t> LeadingNumber(std::string_view value)
{
    const std::size_t first = value.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    value.remove_prefix(first);
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end == value.data())
        return std::nullopt;
    return number;
}
}

void ReadProcessStatus(std::string_view statusText, ProcessUsage& usage)
{
    while (!statusText.empty())
    {
        const std::size_t end = statusText.find('\n');
        const std::string_view line = statusText.substr(0, end);
        statusText.remove_prefix(end == std::string_view::npos ? statusText.size() : end + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = line.substr(0, colon);
        const std::optional<std::uint64_t> value = LeadingNumber(line.substr(colon + 1));
        if (name == "Threads")
            usage.threads = value;
        else if (name == "VmRSS")
            usage.residentKilobytes = value;
        else if (name == "VmHWM")
            usage.peakResidentKilobytes = value;
    }
}

std::string FormatProcessUsage(const ProcessUsage& usage, std::uint64_t frames)
{
    const double cpu = usage.userSeconds + usage.systemSeconds;
    std::string line = "process: CPU " + Fixed(cpu, 3) + " s (user " + Fixed(usage.userSeconds, 3) + " s, system " +
                       Fixed(usage.systemSeconds, 3) + " s)";
    if (frames != 0)
        line += ", " + Fixed(cpu * 1000.0 / static_cast<double>(frames), 3) + " CPU-s per 1000 frames";
    if (usage.threads)
        line += ", " + std::to_string(*usage.threads) + " threads";
    if (usage.residentKilobytes)
        line += ", VmRSS " + std::to_string(*usage.residentKilobytes) + " kB";
    if (usage.peakResidentKilobytes)
        line += ", VmHWM " + std::to_string(*usage.peakResidentKilobytes) + " kB";
    return line;
}
}
