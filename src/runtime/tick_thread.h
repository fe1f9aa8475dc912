// A worker thread that calls OnTick once per period until it is stopped.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/base_thread.h"

namespace kestrav
{
class CTickThread : public CBaseThread
{
public:
    explicit CTickThread(IDebugMessage* owner) : CBaseThread(owner) {}

    // Starts with a tick at once, then one every period.
    bool StartTicking(const std::string& name);
    bool StopTicking() { return StopThread(5000); }

    void SetPeriod(std::uint32_t milliseconds) { m_periodMilliseconds = milliseconds; }
    std::uint32_t GetPeriod() const { return m_periodMilliseconds; }

protected:
    virtual void OnTick() = 0;
    void ThreadFunction() override;

private:
    std::uint32_t m_periodMilliseconds = 2000;
    bool m_immediateTick = false;
};
}
