#include "platform/posix/posix_time.h"

namespace kestrav::platform::posix
{
namespace
{
constexpr long kNanosecondsPerSecond = 1000000000L;
}

timespec MonotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

timespec DeadlineAfter(std::uint32_t milliseconds)
{
    timespec deadline = MonotonicNow();
    deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= kNanosecondsPerSecond)
    {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= kNanosecondsPerSecond;
    }
    return deadline;
}

bool DeadlinePassed(const timespec& deadline)
{
    const timespec now = MonotonicNow();
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

void InitMonotonicCondition(pthread_cond_t* condition)
{
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(condition, &attributes);
    pthread_condattr_destroy(&attributes);
}

void WaitCondition(pthread_cond_t* condition, pthread_mutex_t* mutex, const timespec& deadline, bool forever)
{
    if (forever)
        pthread_cond_wait(condition, mutex);
    else
        pthread_cond_timedwait(condition, mutex, &deadline);
}
}
