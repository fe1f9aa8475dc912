#include "io/io_base.h"

#include <memory>
#include <new>

#include "core/driver_services.h"
#include "platform/clock.h"
#include "platform/thread_termination.h"

namespace kestrav
{
namespace
{
// How often a stop repeats its cancels while it waits for the threads.
constexpr std::uint32_t kCancelRepeatMs = 50;
}

CIOBase::CIOBase(IDriver* driver) : m_driver(driver), m_inputThread(driver, *this), m_outputThread(driver, *this)
{
    m_inputThread.SetPeriod(kInputPeriodMs);
}

CIOBase::~CIOBase()
{
    StopThreads();
}

bool CIOBase::SetIOCallback(IIPIOSink* sink)
{
    if (sink == nullptr)
        return false;
    CRecursiveLockGuard guard(m_stateLock);
    m_sink = sink;
    return true;
}

std::int32_t CIOBase::GetInputCount()
{
    return static_cast<std::int32_t>(m_driver->GetIOCounts().first);
}

std::int32_t CIOBase::GetOutputCount()
{
    return static_cast<std::int32_t>(m_driver->GetIOCounts().second);
}

bool CIOBase::StartIO()
{
    ResetIOStates();
    bool result = true;
    const std::int32_t outputs = GetOutputCount();
    if (outputs > 0)
    {
        {
            CRecursiveLockGuard guard(m_stateLock);
            m_pendingOutputs.clear();
        }
        if (m_outputThread.StartQueueThread("Digital Output thread"))
        {
            m_outputsAccepted = true;
            for (std::int32_t index = 0; index < outputs; ++index)
                SetOutputState(index, kIOStateInactive);
        }
        else
        {
            result = false;
            LogDeviceLine(kLogError, "%s: Start Output thread failed! Device %s:%u", "kestrav::CIOBase::StartIO");
        }
    }
    if (GetInputCount() > 0 && !m_inputThread.StartTicking("Digital Input thread"))
    {
        LogDeviceLine(kLogError, "%s: Start Input thread failed! Device %s:%u", "kestrav::CIOBase::StartIO");
        return false;
    }
    return result;
}

bool CIOBase::StopIO()
{
    const bool result = StopThreads();
    ResetIOStates();
    return result;
}

bool CIOBase::StopThreads()
{
    m_outputsAccepted = false;
    m_outputThread.RequestStop();
    m_inputThread.RequestStop();
    // A cancel that comes while a thread is about to open its request finds nothing to close and is lost;
    // repeating it until both threads have ended closes that request too.
    const std::uint64_t start = platform::MonotonicMilliseconds();
    do
    {
        CancelRequests();
    } while (platform::MonotonicMilliseconds() - start < kStopWaitMs &&
             !(m_outputThread.WaitEnded(kCancelRepeatMs) && m_inputThread.WaitEnded(0)));

    bool result = true;
    if (!m_outputThread.StopQueueThread())
    {
        LogDeviceLine(kLogError, "%s: Stop Output thread failed! Device %s:%u", "kestrav::CIOBase::StopIO");
        result = false;
    }
    if (!m_inputThread.StopTicking())
    {
        LogDeviceLine(kLogError, "%s: Stop Input thread failed! Device %s:%u", "kestrav::CIOBase::StopIO");
        result = false;
    }
    return result;
}

bool CIOBase::SetOutputState(std::int32_t index, std::int32_t state)
{
    // Unknown (0) or any other value must not switch a relay on.
    if (state != kIOStateInactive && state != kIOStateActive)
        return false;
    if (!m_outputsAccepted)
        return false;
    bool waiting = false;
    {
        CRecursiveLockGuard guard(m_stateLock);
        const auto [pending, added] = m_pendingOutputs.insert_or_assign(index, state);
        waiting = !added;
    }
    // A command for this output still waits: it will carry the newest state.
    if (waiting)
        return true;
    std::unique_ptr<COutputState> item(new (std::nothrow) COutputState(index, state));
    if (item != nullptr && m_outputThread.PostWorkItem(std::move(item)))
        return true;
    CRecursiveLockGuard guard(m_stateLock);
    m_pendingOutputs.erase(index);
    return false;
}

void CIOBase::HandleOutputItem(COutputState& item)
{
    std::int32_t state = item.state;
    {
        CRecursiveLockGuard guard(m_stateLock);
        const auto pending = m_pendingOutputs.find(item.index);
        if (pending != m_pendingOutputs.end())
        {
            state = pending->second;
            m_pendingOutputs.erase(pending);
        }
    }
    OnOutputState(item.index, state);
}

void CIOBase::OnOutputState(std::int32_t index, std::int32_t state)
{
    {
        CRecursiveLockGuard guard(m_stateLock);
        const auto known = m_outputStates.find(index);
        if (known == m_outputStates.end() || known->second == state)
            return;
        known->second = state;
    }
    SetOutputStateWrapper(index, state);
}

void CIOBase::SetOutputStateWrapper(std::int32_t index, std::int32_t state)
{
    if (SetCameraOutput(index, state))
    {
        CRecursiveLockGuard guard(m_stateLock);
        m_outputErrorFlag = true;
        return;
    }
    if (ReportFailure(m_outputErrorFlag))
    {
        const DEVICE_INFO* device = m_driver->GetDeviceInfo();
        m_driver->SendDebugMessage(kLogDebug, "%s: Unable to change output state for device %s:%u (output index %u)",
                                   "kestrav::CIOBase::SetOutputStateWrapper",
                                   device != nullptr ? device->address.c_str() : "",
                                   device != nullptr ? unsigned{device->port} : 0u, static_cast<unsigned>(index));
    }
}

void CIOBase::GetInputStatesWrapper()
{
    if (GetInputStates(GetInputCount()))
    {
        CRecursiveLockGuard guard(m_stateLock);
        m_inputErrorFlag = true;
        return;
    }
    if (ReportFailure(m_inputErrorFlag))
        LogDeviceLine(kLogDebug, "%s: GetInputStates() method failed! Device %s:%u",
                      "kestrav::CIOBase::GetInputStatesWrapper");
}

bool CIOBase::ReportFailure(bool& errorFlag)
{
    ResetIOStates();
    bool log = false;
    IIPIOSink* sink = nullptr;
    {
        CRecursiveLockGuard guard(m_stateLock);
        log = errorFlag;
        errorFlag = false;
        sink = m_sink;
    }
    if (sink != nullptr)
    {
        try
        {
            sink->OnIOStatesReset();
        }
        KESTRAV_PASS_THREAD_TERMINATION
        catch (...)
        {
            // The host's fault must not end the IO thread.
        }
    }
    return log;
}

void CIOBase::ApplyInputState(std::int32_t state)
{
    IIPIOSink* sink = nullptr;
    {
        CRecursiveLockGuard guard(m_stateLock);
        const auto known = m_inputStates.find(0);
        if (known == m_inputStates.end() || known->second == state)
            return;
        known->second = state;
        sink = m_sink;
    }
    if (sink == nullptr)
        return;
    try
    {
        sink->OnInputStateChanged(0, state);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // As above: the poll goes on.
    }
}

void CIOBase::ResetIOStates()
{
    const std::int32_t outputs = GetOutputCount();
    const std::int32_t inputs = GetInputCount();
    CRecursiveLockGuard guard(m_stateLock);
    m_outputStates.clear();
    for (std::int32_t index = 0; index < outputs; ++index)
        m_outputStates[index] = kIOStateUnknown;
    m_inputStates.clear();
    for (std::int32_t index = 0; index < inputs; ++index)
        m_inputStates[index] = kIOStateUnknown;
}

void CIOBase::LogDeviceLine(unsigned level, const char* format, const char* method)
{
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    m_driver->SendDebugMessage(level, format, method, device != nullptr ? device->address.c_str() : "",
                               device != nullptr ? unsigned{device->port} : 0u);
}
}
