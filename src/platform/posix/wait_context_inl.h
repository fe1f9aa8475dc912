// The template part of wait_context.h.
#pragma once

#include "platform/posix/posix_time.h"
#include "platform/wait.h"

namespace kestrav::platform::posix
{
namespace detail
{
// Publishes the wait to the thread's termination state for its duration.
class WaitPublication
{
public:
    explicit WaitPublication(Waiter* waiter) : m_state(CurrentTerminationState())
    {
        if (m_state != nullptr)
            m_state->waiter = waiter;
    }
    ~WaitPublication()
    {
        if (m_state != nullptr)
            m_state->waiter = nullptr;
    }
    WaitPublication(const WaitPublication&) = delete;
    WaitPublication& operator=(const WaitPublication&) = delete;

private:
    TerminationState* m_state;
};
}

template <typename Ready> bool BlockUntil(Waiter* waiter, std::uint32_t milliseconds, Ready ready)
{
    const bool forever = milliseconds == kInfinite;
    const timespec deadline = DeadlineAfter(forever ? 0 : milliseconds);
    detail::WaitPublication publication(waiter);
    for (;;)
    {
        ThrowIfTerminated();
        if (ready())
            return true;
        if (!forever && DeadlinePassed(deadline))
            return false;
        WaitCondition(&waiter->wake, WaitMutex(), deadline, forever);
    }
}
}
