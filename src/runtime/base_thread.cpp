#include "runtime/base_thread.h"

#include <exception>

#include "platform/thread_termination.h"
#include "runtime/debug_message.h"

namespace kestrav
{
namespace
{
// The thread object whose body runs on the current thread: a stop called from inside
// the body must not wait for itself.
thread_local const CBaseThread* t_currentThreadObject = nullptr;
}

CBaseThread::CBaseThread(IDebugMessage* owner) : m_owner(owner) {}

CBaseThread::~CBaseThread()
{
    StopThread(2000);
}

bool CBaseThread::StartThread(const std::string& name)
{
    m_stopEvent.Reset();
    if (platform::IsThreadRunning(m_handle))
        return false;
    CloseHandle();
    m_threadName = name;
    m_handle = platform::CreateModuleThread(&CBaseThread::ThreadEntry, this, &m_threadId);
    return m_handle != nullptr;
}

bool CBaseThread::JoinThread(std::uint32_t milliseconds)
{
    return StopWith(milliseconds, [this](std::uint32_t waited) { WaitWithoutLimit(waited); });
}

bool CBaseThread::StopThread(std::uint32_t milliseconds)
{
    return StopWith(milliseconds, [this](std::uint32_t waited) { Terminate(waited); });
}

template <typename OnTimeOut> bool CBaseThread::StopWith(std::uint32_t milliseconds, OnTimeOut onTimeOut)
{
    m_stopEvent.Set();
    if (IsOwnThread())
        return false;
    if (m_handle == nullptr)
        return true;
    if (platform::WaitForThreadEnd(m_handle, milliseconds) != platform::WaitResult::Signaled)
        onTimeOut(milliseconds);
    CloseHandle();
    return true;
}

void CBaseThread::WaitWithoutLimit(std::uint32_t waitedMilliseconds)
{
    if (m_owner != nullptr)
        m_owner->SendDebugMessage(
            kLogWarning, "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds",
            "kestrav::CBaseThread::JoinThread", m_threadId, m_threadName.c_str(), DeviceText().c_str(),
            static_cast<unsigned long>(waitedMilliseconds));
    platform::WaitForThreadEnd(m_handle, platform::kInfinite);
    if (m_owner != nullptr)
        m_owner->SendDebugMessage(kLogInformation, "%s: Thread (id=%u, name=\"%s\") was stopped correctly",
                                  "kestrav::CBaseThread::JoinThread", m_threadId, m_threadName.c_str());
}

void CBaseThread::Terminate(std::uint32_t waitedMilliseconds)
{
    if (m_owner != nullptr)
        m_owner->SendDebugMessage(
            kLogWarning,
            "%s: Thread (id=%u, name=\"%s\") for device %s was not stopped during %lu milliseconds and will be "
            "terminated!",
            "kestrav::CBaseThread::StopThread", m_threadId, m_threadName.c_str(), DeviceText().c_str(),
            static_cast<unsigned long>(waitedMilliseconds));
    if (platform::TerminateModuleThread(m_handle, kTerminationGraceMilliseconds))
        return;
    // Busy outside every wait: it can only be left running; it unwinds at its next wait.
    if (m_owner != nullptr)
        m_owner->SendDebugMessage(kLogError,
                                  "%s: Thread (id=%u, name=\"%s\") for device %s did not end %lu milliseconds after "
                                  "its termination and is left running",
                                  "kestrav::CBaseThread::StopThread", m_threadId, m_threadName.c_str(),
                                  DeviceText().c_str(), static_cast<unsigned long>(kTerminationGraceMilliseconds));
}

void CBaseThread::CloseHandle()
{
    platform::CloseThreadHandle(m_handle);
    m_handle = nullptr;
}

bool CBaseThread::IsOwnThread() const
{
    return t_currentThreadObject == this;
}

std::string CBaseThread::DeviceText() const
{
    return m_owner != nullptr ? m_owner->GetDeviceAddress() : std::string();
}

void CBaseThread::ThreadEntry(void* argument)
{
    auto* self = static_cast<CBaseThread*>(argument);
    t_currentThreadObject = self;
    try
    {
        self->ThreadFunction();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // No exception may leave a thread body inside the host's process.
        if (self->m_owner != nullptr)
            self->m_owner->SendDebugMessage(kLogError, "%s(): Unexpected exception in thread (id=%u, name=\"%s\")",
                                            "kestrav::CBaseThread::ThreadFunction", platform::CurrentThreadId(),
                                            self->m_threadName.c_str());
    }
    t_currentThreadObject = nullptr;
}
}
