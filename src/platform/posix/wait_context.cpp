#include "platform/posix/wait_context.h"

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

void RequestTermination(TerminationState* state)
{
    MutexGuard guard(WaitMutex());
    state->requested = true;
    if (state->waiter != nullptr)
        pthread_cond_signal(&state->waiter->wake);
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
