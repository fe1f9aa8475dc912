// Monotonic deadlines for the POSIX waits.
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace kestrav::platform::posix
{
timespec MonotonicNow();
timespec DeadlineAfter(std::uint32_t milliseconds);
bool DeadlinePassed(const timespec& deadline);

// A condition variable that waits on the monotonic clock.
void InitMonotonicCondition(pthread_cond_t* condition);

// Waits on `condition` until `deadline` (or forever when `forever`); the mutex is held
// again when it returns.
void WaitCondition(pthread_cond_t* condition, pthread_mutex_t* mutex, const timespec& deadline, bool forever);

// Holds a pthread mutex for a scope; also released when a termination unwinds.
class MutexGuard
{
public:
    explicit MutexGuard(pthread_mutex_t* mutex) : m_mutex(mutex) { pthread_mutex_lock(m_mutex); }
    ~MutexGuard() { pthread_mutex_unlock(m_mutex); }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    pthread_mutex_t* m_mutex;
};
}
