// Events are Win32 event objects: the handle is the EventHandle itself.
#include <algorithm>

#include "platform/event.h"
#include "platform/win32/wait_context_win32.h"

namespace kestrav::platform
{
namespace
{
HANDLE Native(EventHandle event)
{
    return reinterpret_cast<HANDLE>(event);
}
}

EventHandle CreateEventObject(bool manualReset, bool initiallySignaled)
{
    return reinterpret_cast<EventHandle>(
        CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySignaled ? TRUE : FALSE, nullptr));
}

void CloseEventObject(EventHandle event)
{
    if (event != nullptr)
        CloseHandle(Native(event));
}

bool SetEventObject(EventHandle event)
{
    return event != nullptr && SetEvent(Native(event)) != FALSE;
}

bool ResetEventObject(EventHandle event)
{
    return event != nullptr && ResetEvent(Native(event)) != FALSE;
}

WaitResult WaitForEventObject(EventHandle event, std::uint32_t milliseconds)
{
    if (event == nullptr)
        return WaitResult::Failed;
    const HANDLE handle = Native(event);
    switch (win32::WaitForAnyOrTermination(&handle, 1, milliseconds))
    {
    case 0:
        return WaitResult::Signaled;
    case win32::kWaitTimedOut:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

int WaitForAnyEventObject(const EventHandle* events, std::size_t count, std::uint32_t milliseconds)
{
    // One slot of the wait is the thread's termination event.
    if (events == nullptr || count == 0 || count > win32::kMaximumWaitHandles)
        return -1;
    if (std::any_of(events, events + count, [](EventHandle e) { return e == nullptr; }))
        return -1;
    HANDLE handles[win32::kMaximumWaitHandles];
    std::transform(events, events + count, handles, Native);
    const int index = win32::WaitForAnyOrTermination(handles, static_cast<DWORD>(count), milliseconds);
    return index >= 0 ? index : -1;
}
}
