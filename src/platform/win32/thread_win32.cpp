// Module threads on _beginthreadex, with the cooperative termination of thread.h.
//
// TerminateThread is never used: it stops a thread wherever it is, so the locks it holds stay
// held for good (the C runtime's heap lock among them, after which every allocation in the
// host's process hangs), no destructor runs, its stack and everything it owned leak, and the
// host ends up hanging or crashing in code that is not even ours. A terminated thread instead
// unwinds from its next platform wait.
#include <process.h>

#include <new>

#include "platform/thread.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform
{
struct ThreadControl
{
    HANDLE thread = nullptr;
    ThreadProc proc = nullptr;
    void* argument = nullptr;
    std::uint32_t id = 0;
    win32::TerminationState termination;

    // One reference for the handle, one for the running thread; a detached thread may
    // outlive its handle.
    std::atomic<int> references{2};
};

namespace
{
void ReleaseControl(ThreadControl* control)
{
    if (control->references.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        if (control->thread != nullptr)
            CloseHandle(control->thread);
        delete control;
    }
}

unsigned __stdcall ThreadTrampoline(void* argument)
{
    auto* control = static_cast<ThreadControl*>(argument);
    win32::SetCurrentTerminationState(&control->termination);
    try
    {
        control->proc(control->argument);
    }
    catch (const ThreadTerminated&)
    {
        // The thread was terminated; it has unwound and ends here.
    }
    win32::SetCurrentTerminationState(nullptr);
    ReleaseControl(control);
    return 0;
}

WaitResult WaitForHandle(HANDLE handle, std::uint32_t milliseconds)
{
    switch (WaitForSingleObject(handle, milliseconds))
    {
    case WAIT_OBJECT_0:
        return WaitResult::Signaled;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}
}

ThreadHandle CreateModuleThread(ThreadProc proc, void* argument, std::uint32_t* threadId)
{
    auto* control = new (std::nothrow) ThreadControl;
    if (control == nullptr)
        return nullptr;
    if (control->termination.wakeEvent == nullptr)
    {
        delete control;
        return nullptr;
    }
    control->proc = proc;
    control->argument = argument;

    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    unsigned id = 0;
    const std::uintptr_t created = _beginthreadex(nullptr, 0, ThreadTrampoline, control, CREATE_SUSPENDED, &id);
    if (created == 0)
    {
        delete control;
        return nullptr;
    }
    // Started only once the handle and id are in place, so the thread always sees them.
    control->thread = reinterpret_cast<HANDLE>(created);
    control->id = id;
    ResumeThread(control->thread);
    if (threadId != nullptr)
        *threadId = id;
    return control;
}

bool IsThreadRunning(ThreadHandle thread)
{
    return thread != nullptr && WaitForSingleObject(thread->thread, 0) == WAIT_TIMEOUT;
}

WaitResult WaitForThreadEnd(ThreadHandle thread, std::uint32_t milliseconds)
{
    if (thread == nullptr)
        return WaitResult::Failed;
    return WaitForHandle(thread->thread, milliseconds);
}

bool TerminateModuleThread(ThreadHandle thread, std::uint32_t graceMilliseconds)
{
    if (thread == nullptr)
        return false;
    if (!IsThreadRunning(thread))
        return true;
    win32::RequestTermination(&thread->termination);
    return WaitForHandle(thread->thread, graceMilliseconds) == WaitResult::Signaled;
}

void CloseThreadHandle(ThreadHandle thread)
{
    // The thread handle is closed with the control's last reference: a running thread is
    // detached, and an ended one has nothing left to join.
    if (thread != nullptr)
        ReleaseControl(thread);
}

bool IsCurrentThread(ThreadHandle thread)
{
    return thread != nullptr && thread->id == GetCurrentThreadId();
}

std::uint32_t CurrentThreadId()
{
    return GetCurrentThreadId();
}

void SleepMilliseconds(std::uint32_t milliseconds)
{
    if (win32::WaitForAnyOrTermination(nullptr, 0, milliseconds) == win32::kWaitFailed)
        Sleep(milliseconds);
}
}
