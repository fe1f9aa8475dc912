// The two worker threads of the digital IO: the output queue and the input poll. Each calls back into its
// owner and can tell a stop when its body has ended.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/event.h"
#include "runtime/queue_thread.h"
#include "runtime/tick_thread.h"

namespace kestrav
{
// One queued output command.
class COutputState
{
public:
    COutputState(std::int32_t outputIndex, std::int32_t outputState) : index(outputIndex), state(outputState) {}
    virtual ~COutputState() = default;

    std::int32_t index;
    std::int32_t state;
};

// Set while no body of the thread runs; a stop waits on it while it repeats its cancels.
class CThreadEndFlag
{
public:
    CThreadEndFlag() { m_ended.Set(); }
    void Started() { m_ended.Reset(); }
    void Ended() { m_ended.Set(); }
    bool WaitEnded(std::uint32_t milliseconds) { return m_ended.Wait(milliseconds); }

private:
    CManualEvent m_ended;
};

// Marks the flag ended when a thread body leaves, however it leaves.
struct CThreadEndMarker
{
    explicit CThreadEndMarker(CThreadEndFlag& flag) : end(flag) {}
    ~CThreadEndMarker() { end.Ended(); }
    CThreadEndFlag& end;
};

template <typename Owner> class TTickThread : public CTickThread
{
public:
    TTickThread(IDebugMessage* log, Owner& owner) : CTickThread(log), m_owner(owner) {}
    ~TTickThread() override { StopThread(5000); }

    bool StartTicking(const std::string& name)
    {
        m_end.Started();
        if (CTickThread::StartTicking(name))
            return true;
        m_end.Ended();
        return false;
    }
    void RequestStop() { StopEvent().Set(); }
    bool WaitEnded(std::uint32_t milliseconds) { return m_end.WaitEnded(milliseconds); }

protected:
    void OnTick() override { m_owner.GetInputStatesWrapper(); }
    void ThreadFunction() override
    {
        const CThreadEndMarker marker(m_end);
        CTickThread::ThreadFunction();
    }

private:
    Owner& m_owner;
    CThreadEndFlag m_end;
};

template <typename Owner> class TOutputHandler : public CQueueThread<COutputState>
{
public:
    TOutputHandler(IDebugMessage* log, Owner& owner) : CQueueThread<COutputState>(log), m_owner(owner) {}

    bool StartQueueThread(const std::string& name) override
    {
        m_end.Started();
        if (CQueueThread<COutputState>::StartQueueThread(name))
            return true;
        m_end.Ended();
        return false;
    }
    void RequestStop() { StopEvent().Set(); }
    bool WaitEnded(std::uint32_t milliseconds) { return m_end.WaitEnded(milliseconds); }

protected:
    void HandleWorkItem(COutputState& item) override { m_owner.HandleOutputItem(item); }
    void ThreadFunction() override
    {
        const CThreadEndMarker marker(m_end);
        CQueueThread<COutputState>::ThreadFunction();
    }

private:
    Owner& m_owner;
    CThreadEndFlag m_end;
};
}
