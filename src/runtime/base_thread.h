// A named worker thread with a polite stop through a manual-reset event, a bounded
// wait, and a forced termination when the wait runs out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/thread.h"
#include "runtime/event.h"

class IDebugMessage;

namespace kestrav
{
class CBaseThread
{
public:
    // `owner` names the device in log lines; it must outlive every stop that can time out.
    explicit CBaseThread(IDebugMessage* owner);
    // Stops the thread (2000 ms, then terminated). Derived classes stop it in their own
    // destructors first, before their members go away.
    virtual ~CBaseThread();
    CBaseThread(const CBaseThread&) = delete;
    CBaseThread& operator=(const CBaseThread&) = delete;

    // False while the previous thread of this object still runs, or when none can be
    // created.
    virtual bool StartThread(const std::string& name);
    // Sets the stop event and waits; after `milliseconds` warns and waits without limit.
    virtual bool JoinThread(std::uint32_t milliseconds);
    // Sets the stop event and waits; after `milliseconds` warns and terminates the thread.
    virtual bool StopThread(std::uint32_t milliseconds);

    std::uint32_t GetThreadId() const { return m_threadId; }
    const std::string& GetThreadName() const { return m_threadName; }

    // How long a terminated thread is given to unwind before it is left running.
    static constexpr std::uint32_t kTerminationGraceMilliseconds = 2000;

protected:
    // The body; it must return soon after the stop event is set.
    virtual void ThreadFunction() = 0;

    CManualEvent& StopEvent() { return m_stopEvent; }
    bool IsStopRequested() { return m_stopEvent.Wait(0); }

private:
    static void ThreadEntry(void* argument);
    // The common path of both stops; `onTimeOut` runs when the thread outlives the wait.
    template <typename OnTimeOut> bool StopWith(std::uint32_t milliseconds, OnTimeOut onTimeOut);
    void WaitWithoutLimit(std::uint32_t waitedMilliseconds);
    bool IsOwnThread() const;
    std::string DeviceText() const;
    void Terminate(std::uint32_t waitedMilliseconds);
    void CloseHandle();

    std::string m_threadName;
    platform::ThreadHandle m_handle = nullptr;
    std::uint32_t m_threadId = 0;
    IDebugMessage* m_owner;
    CManualEvent m_stopEvent;
};
}
