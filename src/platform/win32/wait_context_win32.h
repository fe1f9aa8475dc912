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

// Waits for any of `handles` (at most MAXIMUM_WAIT_OBJECTS - 1) or the thread's termination.
// Returns the index of the signaled handle, or -1 on time-out, -2 on failure; throws
// ThreadTerminated when the thread is terminated and may unwind here.
inline constexpr int kWaitTimedOut = -1;
inline constexpr int kWaitFailed = -2;
int WaitForAnyOrTermination(const HANDLE* handles, DWORD count, std::uint32_t milliseconds);
}
