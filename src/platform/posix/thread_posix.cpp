#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/posix/posix_time.h"
#include "platform/posix/wait_context.h"
#include "platform/thread.h"

namespace kestrav::platform
{
struct ThreadControl
{
    pthread_t thread{};
    ThreadProc proc = nullptr;
    void* argument = nullptr;
    std::uint32_t id = 0;

    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed{};
    bool started = false;
    bool finished = false;

    // Guarded by the wait mutex, not by `mutex`.
    posix::TerminationState termination;

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
        pthread_cond_destroy(&control->changed);
        pthread_mutex_destroy(&control->mutex);
        delete control;
    }
}

// Runs on the thread's way out, also when it is unwound by a termination.
class FinishedMarker
{
public:
    explicit FinishedMarker(ThreadControl* control) : m_control(control) {}
    ~FinishedMarker()
    {
        {
            posix::MutexGuard guard(&m_control->mutex);
            m_control->finished = true;
            pthread_cond_broadcast(&m_control->changed);
        }
        ReleaseControl(m_control);
    }
    FinishedMarker(const FinishedMarker&) = delete;
    FinishedMarker& operator=(const FinishedMarker&) = delete;

private:
    ThreadControl* m_control;
};

void* ThreadTrampoline(void* argument)
{
    auto* control = static_cast<ThreadControl*>(argument);
    posix::SetCurrentTerminationState(&control->termination);
    {
        posix::MutexGuard guard(&control->mutex);
        control->id = CurrentThreadId();
        control->started = true;
        pthread_cond_broadcast(&control->changed);
    }
    FinishedMarker marker(control);
    try
    {
        control->proc(control->argument);
    }
    catch (const ThreadTerminated&)
    {
        // The thread was terminated; it has unwound and ends here.
    }
    posix::SetCurrentTerminationState(nullptr);
    return nullptr;
}

// Waits for `ready(control)` under the control's mutex; false on time-out.
template <typename Ready> bool WaitForControl(ThreadControl* control, std::uint32_t milliseconds, Ready ready)
{
    const bool forever = milliseconds == kInfinite;
    const timespec deadline = posix::DeadlineAfter(forever ? 0 : milliseconds);
    posix::MutexGuard guard(&control->mutex);
    while (!ready(*control))
    {
        if (!forever && posix::DeadlinePassed(deadline))
            return false;
        posix::WaitCondition(&control->changed, &control->mutex, deadline, forever);
    }
    return true;
}

bool IsFinished(const ThreadControl& control)
{
    return control.finished;
}
}

ThreadHandle CreateModuleThread(ThreadProc proc, void* argument, std::uint32_t* threadId)
{
    auto* control = new (std::nothrow) ThreadControl;
    if (control == nullptr)
        return nullptr;
    control->proc = proc;
    control->argument = argument;
    posix::InitMonotonicCondition(&control->changed);

    if (pthread_create(&control->thread, nullptr, ThreadTrampoline, control) != 0)
    {
        pthread_cond_destroy(&control->changed);
        delete control;
        return nullptr;
    }
    // The id is published by the new thread; wait for it so that callers can log it.
    WaitForControl(control, kInfinite, [](const ThreadControl& c) { return c.started; });
    if (threadId != nullptr)
        *threadId = control->id;
    return control;
}

bool IsThreadRunning(ThreadHandle thread)
{
    if (thread == nullptr)
        return false;
    posix::MutexGuard guard(&thread->mutex);
    return !thread->finished;
}

WaitResult WaitForThreadEnd(ThreadHandle thread, std::uint32_t milliseconds)
{
    if (thread == nullptr)
        return WaitResult::Failed;
    return WaitForControl(thread, milliseconds, IsFinished) ? WaitResult::Signaled : WaitResult::TimedOut;
}

bool TerminateModuleThread(ThreadHandle thread, std::uint32_t graceMilliseconds)
{
    if (thread == nullptr)
        return false;
    if (!IsThreadRunning(thread))
        return true;
    posix::RequestTermination(&thread->termination);
    return WaitForControl(thread, graceMilliseconds, IsFinished);
}

void CloseThreadHandle(ThreadHandle thread)
{
    if (thread == nullptr)
        return;
    if (IsThreadRunning(thread))
        pthread_detach(thread->thread);
    else
        pthread_join(thread->thread, nullptr);
    ReleaseControl(thread);
}

bool IsCurrentThread(ThreadHandle thread)
{
    return thread != nullptr && pthread_equal(thread->thread, pthread_self()) != 0;
}

std::uint32_t CurrentThreadId()
{
    return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

void SleepMilliseconds(std::uint32_t milliseconds)
{
    // Declared first so that it is destroyed after the mutex is released.
    posix::Waiter waiter;
    posix::MutexGuard guard(posix::WaitMutex());
    posix::BlockUntil(&waiter, milliseconds, [] { return false; });
}
}
