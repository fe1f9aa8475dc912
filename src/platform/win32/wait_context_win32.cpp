#include "platform/win32/wait_context_win32.h"

#include <exception>

#include "platform/thread.h"

namespace kestrav::platform::win32
{
namespace
{
thread_local TerminationState* t_terminationState = nullptr;
thread_local int t_noTerminationDepth = 0;

// Termination may unwind the thread here: not inside a NoTerminationScope, and never while another
// exception unwinds, which would end the process.
bool MayUnwind()
{
    return t_terminationState != nullptr && t_noTerminationDepth == 0 && std::uncaught_exceptions() == 0;
}

// The end of a timed wait on the performance counter, finer than the wait's own timer.
class WaitDeadline
{
public:
    explicit WaitDeadline(std::uint32_t milliseconds) : m_timed(milliseconds != kInfinite)
    {
        LARGE_INTEGER now{};
        if (!m_timed || !QueryPerformanceFrequency(&m_frequency) || !QueryPerformanceCounter(&now))
        {
            m_timed = false;
            return;
        }
        // Split so that no product overflows, whatever the counter's frequency.
        const LONGLONG frequency = m_frequency.QuadPart;
        m_end = now.QuadPart + milliseconds / 1000 * frequency + milliseconds % 1000 * frequency / 1000;
    }

    bool Passed() const { return !m_timed || Now() >= m_end; }

    // Rounded up, so that the next wait does not end just short of the deadline again.
    DWORD RemainingMilliseconds() const
    {
        const LONGLONG left = m_end - Now();
        if (left <= 0)
            return 0;
        const LONGLONG frequency = m_frequency.QuadPart;
        return static_cast<DWORD>(left / frequency * 1000 + (left % frequency * 1000 + frequency - 1) / frequency);
    }

private:
    static LONGLONG Now()
    {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        return now.QuadPart;
    }

    bool m_timed;
    LARGE_INTEGER m_frequency{};
    LONGLONG m_end = 0;
};
}

TerminationState::TerminationState() : wakeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TerminationState::~TerminationState()
{
    if (wakeEvent != nullptr)
        CloseHandle(wakeEvent);
}

void SetCurrentTerminationState(TerminationState* state)
{
    t_terminationState = state;
}

void RequestTermination(TerminationState* state)
{
    state->requested.store(true, std::memory_order_release);
    SetEvent(state->wakeEvent);
}

void ThrowIfTerminated()
{
    if (MayUnwind() && t_terminationState->requested.load(std::memory_order_acquire))
        throw ThreadTerminated();
}

HANDLE TerminationWakeEvent()
{
    if (!MayUnwind())
        return nullptr;
    ThrowIfTerminated();
    return t_terminationState->wakeEvent;
}

int WaitForAnyOrTermination(const HANDLE* handles, DWORD count, std::uint32_t milliseconds)
{
    if (count > kMaximumWaitHandles)
        return kWaitFailed;
    HANDLE all[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i)
        all[i] = handles[i];
    const HANDLE wake = TerminationWakeEvent();
    const DWORD total = wake != nullptr ? count + 1 : count;
    if (wake != nullptr)
        all[count] = wake;
    // Waits for any: the lowest signaled index wins, so the caller's handles come before the
    // termination, and only the returned auto-reset handle is reset. Windows ends a timed wait on a
    // timer tick, which may come before the time-out has fully passed: the rest is waited again, so
    // that a wait lasts at least its time-out, as on the other platforms.
    const WaitDeadline deadline(milliseconds);
    const auto wait = [&](DWORD timeOut)
    {
        if (total != 0)
            return WaitForMultipleObjects(total, all, FALSE, timeOut);
        Sleep(timeOut); // nothing to wait for: a plain sleep
        return static_cast<DWORD>(WAIT_TIMEOUT);
    };
    DWORD result = wait(milliseconds);
    while (result == WAIT_TIMEOUT && !deadline.Passed())
        result = wait(deadline.RemainingMilliseconds());
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
        return static_cast<int>(result - WAIT_OBJECT_0);
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
        return static_cast<int>(result - WAIT_ABANDONED_0);
    if (result == WAIT_OBJECT_0 + count)
    {
        ThrowIfTerminated();
        return kWaitFailed; // not reached: the wake event is only given when the thread may unwind
    }
    return result == WAIT_TIMEOUT ? kWaitTimedOut : kWaitFailed;
}
}

namespace kestrav::platform
{
NoTerminationScope::NoTerminationScope()
{
    ++win32::t_noTerminationDepth;
}

NoTerminationScope::~NoTerminationScope()
{
    --win32::t_noTerminationDepth;
}
}
