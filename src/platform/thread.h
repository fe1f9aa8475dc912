// Module threads, with a forced termination that cannot crash the host.
//
// How termination works: TerminateModuleThread marks the thread terminated and wakes it
// if it is blocked in one of the platform layer's own waits (event waits, wait-any,
// sleeps, socket waits). That wait, and every later one on the thread, throws
// ThreadTerminated, so the thread unwinds with its destructors running and its locks
// released. It is never cut off anywhere else: not inside libcurl, the allocator or any
// other library call. Catch-alls let the unwinding pass (see thread_termination.h); one
// that swallows it by mistake only delays the end to the thread's next wait. Waits never
// throw while an exception is already unwinding, nor inside a NoTerminationScope (for
// waits in destructors).
#pragma once

#include <cstdint>

#include "platform/wait.h"

namespace kestrav::platform
{
struct ThreadControl;

// Thrown by the platform's waits on a terminated thread. Deliberately not a
// std::exception, so that handlers of ordinary errors do not take it.
struct ThreadTerminated
{
};
using ThreadHandle = ThreadControl*;
using ThreadProc = void (*)(void* argument);

// Starts `proc(argument)` on a new module thread with the default stack size. Returns
// null when the thread cannot be created; `threadId` receives the new thread's id.
ThreadHandle CreateModuleThread(ThreadProc proc, void* argument, std::uint32_t* threadId);

// False once the thread body has returned or been unwound.
bool IsThreadRunning(ThreadHandle thread);

// Waits for the thread body to end. Never a termination point itself.
WaitResult WaitForThreadEnd(ThreadHandle thread, std::uint32_t milliseconds);

// Makes the thread unwind from its current or next platform wait and gives it up to
// `graceMilliseconds` to end. True when the thread has ended.
bool TerminateModuleThread(ThreadHandle thread, std::uint32_t graceMilliseconds);

// Releases the handle: joins an ended thread; a thread still running is detached.
void CloseThreadHandle(ThreadHandle thread);

bool IsCurrentThread(ThreadHandle thread);
std::uint32_t CurrentThreadId();

// A termination point on module threads.
void SleepMilliseconds(std::uint32_t milliseconds);

// Makes the platform waits of this thread non-terminable while it lives (nestable).
class NoTerminationScope
{
public:
    NoTerminationScope();
    ~NoTerminationScope();
    NoTerminationScope(const NoTerminationScope&) = delete;
    NoTerminationScope& operator=(const NoTerminationScope&) = delete;
};
}
