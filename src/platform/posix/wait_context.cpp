#include "platform/posix/wait_context.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <exception>

#include "platform/thread.h"

namespace kestrav::platform::posix
{
namespace
{
pthread_mutex_t g_waitMutex = PTHREAD_MUTEX_INITIALIZER;
thread_local TerminationState* t_terminationState = nullptr;
thread_local int t_noTerminationDepth = 0;
}

pthread_mutex_t* WaitMutex()
{
    return &g_waitMutex;
}

TerminationState* CurrentTerminationState()
{
    return t_terminationState;
}

void SetCurrentTerminationState(TerminationState* state)
{
    t_terminationState = state;
}

void ThrowIfTerminated()
{
    // Never while another exception unwinds: that would end the process.
    if (t_terminationState != nullptr && t_terminationState->requested && t_noTerminationDepth == 0 &&
        std::uncaught_exceptions() == 0)
        throw ThreadTerminated();
}

TerminationState::~TerminationState()
{
    if (wakeDescriptor >= 0)
        close(wakeDescriptor);
}

void RequestTermination(TerminationState* state)
{
    MutexGuard guard(WaitMutex());
    state->requested = true;
    if (state->waiter != nullptr)
        pthread_cond_signal(&state->waiter->wake);
    // Stays readable from now on, so a poll that starts later returns at once too.
    if (state->wakeDescriptor >= 0)
        eventfd_write(state->wakeDescriptor, 1);
}

// A descriptor per thread rather than polling in short slices: a socket thread sleeps until
// data, its time-out or its termination, and is woken at once by the last.
int TerminationWakeDescriptor()
{
    TerminationState* state = nullptr;
    {
        MutexGuard guard(WaitMutex());
        ThrowIfTerminated();
        state = t_terminationState;
        // Requested but not thrown: held off (a NoTerminationScope or an unwinding exception).
        if (state == nullptr || state->requested)
            return kNoTerminationWake;
        if (state->wakeDescriptor >= 0)
            return state->wakeDescriptor;
    }
    // Made outside the wait mutex, once per thread; only this thread installs it.
    const int created = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (created < 0)
        return kTerminationWakeUnavailable;
    MutexGuard guard(WaitMutex());
    state->wakeDescriptor = created;
    if (state->requested)
        eventfd_write(created, 1);
    return created;
}
}

namespace kestrav::platform
{
NoTerminationScope::NoTerminationScope()
{
    ++posix::t_noTerminationDepth;
}

NoTerminationScope::~NoTerminationScope()
{
    --posix::t_noTerminationDepth;
}
}
