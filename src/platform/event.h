// Events with manual or automatic reset and a wait for any of several, as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wait.h"

namespace kestrav::platform
{
struct EventObject;
using EventHandle = EventObject*;

// Null when the event cannot be created.
EventHandle CreateEventObject(bool manualReset, bool initiallySignaled);
// The event must not be waited on any more.
void CloseEventObject(EventHandle event);

bool SetEventObject(EventHandle event);
bool ResetEventObject(EventHandle event);

// A termination point on module threads. An auto-reset event is reset by the wait it
// releases.
WaitResult WaitForEventObject(EventHandle event, std::uint32_t milliseconds);

// Index of the first signalled event in `events`, or -1 on time-out, on a null or
// empty list and on a null event in it. A termination point on module threads.
int WaitForAnyEventObject(const EventHandle* events, std::size_t count, std::uint32_t milliseconds);
}
