#include "platform/clock.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform
{
std::uint64_t FileTimeNow()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The performance counter rather than GetTickCount64, whose steps of 10 to 16 ms are too coarse
// for the module's read pacing.
std::uint64_t MonotonicMilliseconds()
{
    static const std::uint64_t frequency = []
    {
        LARGE_INTEGER value{};
        return QueryPerformanceFrequency(&value) && value.QuadPart > 0 ? static_cast<std::uint64_t>(value.QuadPart) : 0;
    }();
    LARGE_INTEGER counter{};
    if (frequency == 0 || !QueryPerformanceCounter(&counter))
        return GetTickCount64();
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    // Split so that the product cannot overflow however long the machine has run.
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}
}
