// What the whole bench process used during a recording: CPU time, threads and memory, for the summary of a
// benchmark run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav::hostbench
{
struct ProcessUsage
{
    double userSeconds = 0.0;
    double systemSeconds = 0.0;
    // From /proc/self/status; none where the text lacks the field.
    std::optional<std::uint64_t> threads;
    std::optional<std::uint64_t> residentKilobytes;
    std::optional<std::uint64_t> peakResidentKilobytes;
};

// Fills threads, residentKilobytes and peakResidentKilobytes from the text of /proc/<pid>/status
// ("Threads:", "VmRSS:", "VmHWM:" lines); a field that is missing or not a number stays empty.
void ReadProcessStatus(std::string_view statusText, ProcessUsage& usage);

// The process line of the summary: CPU (user + system, and per 1000 frames when there are frames), threads and
// resident memory.
std::string FormatProcessUsage(const ProcessUsage& usage, std::uint64_t frames);
}
