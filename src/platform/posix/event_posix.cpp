// Events emulated on the wait mutex with a condition variable per waiting call. A
// waiter registers with every event it waits for; Set wakes the registered waiters,
// which re-check their events in list order.
#include <pthread.h>

#include <algorithm>
#include <new>
#include <vector>

#include "platform/event.h"
#include "platform/posix/wait_context.h"

namespace kestrav::platform
{
struct EventObject
{
    bool manualReset = false;
    bool signaled = false;
    std::vector<posix::Waiter*> waiters;
};

namespace
{
// Takes the first signalled event in list order, resetting it when it is auto-reset.
// Called with the wait mutex held.
int TakeSignaled(const EventHandle* events, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
    {
        if (events[i]->signaled)
        {
            if (!events[i]->manualReset)
                events[i]->signaled = false;
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Registers a waiter with every event for one wait; unregisters also when the wait
// unwinds because its thread was terminated.
class WaiterRegistration
{
public:
    WaiterRegistration(posix::Waiter* waiter, const EventHandle* events, std::size_t count)
        : m_waiter(waiter), m_events(events), m_count(count)
    {
        for (std::size_t i = 0; i < m_count; ++i)
            m_events[i]->waiters.push_back(m_waiter);
    }
    ~WaiterRegistration()
    {
        for (std::size_t i = 0; i < m_count; ++i)
        {
            auto& waiters = m_events[i]->waiters;
            auto found = std::find(waiters.begin(), waiters.end(), m_waiter);
            if (found != waiters.end())
                waiters.erase(found);
        }
    }
    WaiterRegistration(const WaiterRegistration&) = delete;
    WaiterRegistration& operator=(const WaiterRegistration&) = delete;

private:
    posix::Waiter* m_waiter;
    const EventHandle* m_events;
    std::size_t m_count;
};
}

EventHandle CreateEventObject(bool manualReset, bool initiallySignaled)
{
    auto* event = new (std::nothrow) EventObject;
    if (event == nullptr)
        return nullptr;
    event->manualReset = manualReset;
    event->signaled = initiallySignaled;
    return event;
}

void CloseEventObject(EventHandle event)
{
    delete event;
}

bool SetEventObject(EventHandle event)
{
    if (event == nullptr)
        return false;
    posix::MutexGuard guard(posix::WaitMutex());
    event->signaled = true;
    for (posix::Waiter* waiter : event->waiters)
        pthread_cond_signal(&waiter->wake);
    return true;
}

bool ResetEventObject(EventHandle event)
{
    if (event == nullptr)
        return false;
    posix::MutexGuard guard(posix::WaitMutex());
    event->signaled = false;
    return true;
}

WaitResult WaitForEventObject(EventHandle event, std::uint32_t milliseconds)
{
    if (event == nullptr)
        return WaitResult::Failed;
    return WaitForAnyEventObject(&event, 1, milliseconds) == 0 ? WaitResult::Signaled : WaitResult::TimedOut;
}

int WaitForAnyEventObject(const EventHandle* events, std::size_t count, std::uint32_t milliseconds)
{
    if (events == nullptr || count == 0)
        return -1;
    if (std::any_of(events, events + count, [](EventHandle e) { return e == nullptr; }))
        return -1;

    // Declared first so that it is destroyed after the mutex is released.
    posix::Waiter waiter;
    posix::MutexGuard guard(posix::WaitMutex());
    posix::ThrowIfTerminated();
    int index = TakeSignaled(events, count);
    if (index >= 0 || milliseconds == 0)
        return index;

    WaiterRegistration registration(&waiter, events, count);
    posix::BlockUntil(&waiter, milliseconds, [&] { return (index = TakeSignaled(events, count)) >= 0; });
    return index;
}
}
