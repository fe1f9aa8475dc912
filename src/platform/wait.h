// Wait results and the time-out value shared by every blocking call of the platform layer.
#pragma once

#include <cstdint>

namespace kestrav::platform
{
// Waits forever, as Windows' INFINITE.
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult
{
    Signaled,
    TimedOut,
    Failed,
};
}
