// What the Windows waits share: the termination state of the calling module thread, as a
// manual-reset event that any platform wait can wait on beside its own handles.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/wait.h"

namespace kestrav::platform::win32
{
// Manual-reset event signaled once the calling module thread is terminated; nullptr when nothing can
// terminate the caller's waits (not a module thread, or inside a NoTerminationScope or during unwinding).
// Throws ThreadTerminated when the thread is already terminated and may unwind here.
HANDLE TerminationWakeEvent();

// Throws ThreadTerminated when the calling module thread is terminated and may unwind here.
void ThrowIfTerminated();

// Waits for any of `handles` (at most kMaximumWaitHandles) or the thread's termination. The index of
// the first signaled handle, kWaitTimedOut or kWaitFailed; throws ThreadTerminated when the thread is
// terminated and may unwind here.
inline constexpr DWORD kMaximumWaitHandles = MAXIMUM_WAIT_OBJECTS - 1;
inline constexpr int kWaitTimedOut = -1;
inline constexpr int kWaitFailed = -2;
int WaitForAnyOrTermination(const HANDLE* handles, DWORD count, std::uint32_t milliseconds);

// A module thread's termination; owned by its thread control.
struct TerminationState
{
    TerminationState();
    ~TerminationState();
    TerminationState(const TerminationState&) = delete;
    TerminationState& operator=(const TerminationState&) = delete;

    // Manual reset, and never reset: every wait after the termination returns at once.
    HANDLE wakeEvent = nullptr;
    std::atomic<bool> requested{false};
};

// The calling thread's state when it is a module thread, else null.
void SetCurrentTerminationState(TerminationState* state);

// Marks the state terminated and wakes the thread's current or next wait.
void RequestTermination(TerminationState* state);
}
