// What the POSIX waits share: one process-wide mutex, a waiter per blocking call, and
// the termination state of the calling module thread.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "platform/posix/posix_time.h"

namespace kestrav::platform::posix
{
// One blocking call's wake-up; lives on the waiting thread's stack.
struct Waiter
{
    Waiter() { InitMonotonicCondition(&wake); }
    ~Waiter() { pthread_cond_destroy(&wake); }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    pthread_cond_t wake{};
};

// Guarded by WaitMutex().
struct TerminationState
{
    TerminationState() = default;
    ~TerminationState();
    TerminationState(const TerminationState&) = delete;
    TerminationState& operator=(const TerminationState&) = delete;

    bool requested = false;
    Waiter* waiter = nullptr; // the wait the thread is blocked in, if any
    // Readable once termination is requested, for waits that block in poll() rather than on
    // a condition variable (socket waits). Made on the first such wait; -1 until then.
    int wakeDescriptor = -1;
};

// Guards every event and every termination state. Held only for a few instructions.
pthread_mutex_t* WaitMutex();

// The calling thread's state when it is a module thread, else null.
TerminationState* CurrentTerminationState();
void SetCurrentTerminationState(TerminationState* state);

// Called with WaitMutex() held: throws ThreadTerminated when the calling module thread
// has been terminated and may unwind here.
void ThrowIfTerminated();

// Marks the state terminated and wakes its wait. Takes WaitMutex().
void RequestTermination(TerminationState* state);

// For waits that block in poll(). Throws ThreadTerminated when the calling module thread
// has been terminated; otherwise the descriptor to poll beside the waited one, which becomes
// readable when the thread is terminated. kNoTerminationWake when nothing can terminate the
// wait (not a module thread, or termination is held off); kTerminationWakeUnavailable when no
// descriptor could be made, and the caller must poll in slices of at most
// kTerminationPollSliceMilliseconds and call this again between them. Takes WaitMutex().
inline constexpr int kNoTerminationWake = -1;
inline constexpr int kTerminationWakeUnavailable = -2;
inline constexpr std::uint32_t kTerminationPollSliceMilliseconds = 50;
int TerminationWakeDescriptor();

// Blocks the calling thread on `waiter` until `ready()` holds, the deadline passes (false)
// or the thread is terminated (throws). Called with WaitMutex() held; `ready` runs under it.
template <typename Ready> bool BlockUntil(Waiter* waiter, std::uint32_t milliseconds, Ready ready);
}

#include "platform/posix/wait_context_inl.h"
