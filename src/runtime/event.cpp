#include "runtime/event.h"

namespace kestrav
{
CEvent::CEvent(bool manualReset) : m_handle(platform::CreateEventObject(manualReset, false)) {}

CEvent::~CEvent()
{
    platform::CloseEventObject(m_handle);
}

bool CEvent::Set()
{
    return platform::SetEventObject(m_handle);
}

bool CEvent::Reset()
{
    return platform::ResetEventObject(m_handle);
}

bool CEvent::Wait(std::uint32_t milliseconds)
{
    return platform::WaitForEventObject(m_handle, milliseconds) == platform::WaitResult::Signaled;
}

int WaitForAnyEvent(CEvent* const* events, std::size_t count, std::uint32_t milliseconds)
{
    // Windows waits on at most 64 handles; nobody here waits on more than a few.
    constexpr std::size_t kMaximumEvents = 64;
    if (events == nullptr || count == 0 || count > kMaximumEvents)
        return -1;
    platform::EventHandle handles[kMaximumEvents];
    for (std::size_t i = 0; i < count; ++i)
    {
        if (events[i] == nullptr)
            return -1;
        handles[i] = events[i]->Handle();
    }
    return platform::WaitForAnyEventObject(handles, count, milliseconds);
}
}
