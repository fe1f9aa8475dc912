// Thin event wrappers over the platform's events, and a wait on several of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/event.h"

namespace kestrav
{
class CEvent
{
public:
    // Unnamed and not signalled at creation.
    explicit CEvent(bool manualReset);
    virtual ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    bool Set();
    bool Reset();
    // True when signalled; false on time-out, failure or a missing event.
    bool Wait(std::uint32_t milliseconds);

    platform::EventHandle Handle() const { return m_handle; }

private:
    platform::EventHandle m_handle;
};

class CManualEvent : public CEvent
{
public:
    CManualEvent() : CEvent(true) {}
};

// Index of the first signalled event, or -1 on time-out, failure or a null list.
int WaitForAnyEvent(CEvent* const* events, std::size_t count, std::uint32_t milliseconds);
}
