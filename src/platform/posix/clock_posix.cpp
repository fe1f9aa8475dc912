#include <time.h>

#include "platform/clock.h"

namespace kestrav::platform
{
namespace
{
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochInFileTimeSeconds = 11644473600ULL;
}

std::uint64_t FileTimeNow()
{
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0)
        return 0;
    return (static_cast<std::uint64_t>(now.tv_sec) + kUnixEpochInFileTimeSeconds) * 10000000ULL +
           static_cast<std::uint64_t>(now.tv_nsec) / 100;
}

std::uint64_t MonotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000ULL + static_cast<std::uint64_t>(now.tv_nsec) / 1000000ULL;
}
}
