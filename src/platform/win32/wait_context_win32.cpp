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
    if (total == 0)
    {
        Sleep(milliseconds);
        return kWaitTimedOut;
    }
    // Waits for any: the lowest signaled index wins, so the caller's handles come before the
    // termination, and only the returned auto-reset handle is reset.
    const DWORD result = WaitForMultipleObjects(total, all, FALSE, milliseconds);
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
