#include "io/base_motion_channel.h"

#include <algorithm>
#include <cstring>

#include "core/driver_services.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/thread_termination.h"

namespace kestrav
{
CBaseMotionChannel::CBaseMotionChannel(std::int32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CBaseThread(driver), m_sink(sink), m_lastAlarmDataMs(platform::MonotonicMilliseconds()), m_channel(channel),
      m_driver(driver)
{
    // No thread yet: a stop has nothing to wait for.
    m_threadEnded.Set();
}

CBaseMotionChannel::~CBaseMotionChannel()
{
    Stop();
}

bool CBaseMotionChannel::Start()
{
    Stop();
    if (!m_socketsStarted)
        m_socketsStarted = platform::StartSockets();
    m_threadEnded.Reset();
    if (StartThread(kThreadName))
        return true;
    m_threadEnded.Set();
    if (m_socketsStarted)
    {
        platform::CleanupSockets();
        m_socketsStarted = false;
    }
    return false;
}

void CBaseMotionChannel::Stop()
{
    StopEvent().Set();
    // A cancel that comes while the thread is between its stop check and the start of its request finds
    // nothing to close and is lost; repeating it until the thread has ended closes that request too.
    const std::uint32_t bound = 2 * RequestTimeoutMs();
    const std::uint64_t start = platform::MonotonicMilliseconds();
    std::uint64_t waited = 0;
    do
    {
        CancelRequest();
        waited = platform::MonotonicMilliseconds() - start;
    } while (waited < bound && !m_threadEnded.Wait(kCancelRepeatMs));
    StopThread(static_cast<std::uint32_t>(bound > waited ? bound - waited : kCancelRepeatMs));
    if (m_socketsStarted)
    {
        platform::CleanupSockets();
        m_socketsStarted = false;
    }
}

void CBaseMotionChannel::ReportMotionState(bool state)
{
    if (!m_reportedOnce)
    {
        CaptureMotionFrameCallback(!state);
        CaptureMotionFrameCallback(state);
        m_reportedOnce = true;
    }
    else if (state != m_lastReportedState)
    {
        CaptureMotionFrameCallback(state);
    }
    // Taken as reported even when the host refused the frame: the next frame goes out on the next change.
    m_lastReportedState = state;
}

bool CBaseMotionChannel::CaptureMotionFrameCallback(bool state)
{
    ipcapture::IIPMediaAllocator* allocator = m_driver != nullptr ? m_driver->GetMediaAllocator() : nullptr;
    if (allocator == nullptr || m_sink == nullptr)
        return false;
    ipcapture::IIPMediaBuffer* buffer =
        allocator->AllocateBuffer(ipcapture::kTypeCodeMotion, kFrameCapacity, "CBaseMotionChannel");
    if (buffer == nullptr)
        return false;
    const std::uint8_t record[2] = {1, static_cast<std::uint8_t>(state ? 1 : 0)};
    std::memcpy(buffer->GetData(), record, sizeof(record));
    buffer->SetDataSize(sizeof(record));
    buffer->SetWidth(kFrameWidth);
    buffer->SetHeight(kFrameHeight);
    buffer->SetSizeClass(kFrameSizeClass);
    buffer->MarkBuffer();

    bool accepted = false;
    try
    {
        accepted = m_sink->DeliverFrame(buffer);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // The host's fault must not end the motion thread: the frame counts as refused.
    }
    allocator->ReleaseBuffer(buffer);
    if (!accepted)
    {
        m_driver->SendDebugMessage(kLogDebug, "%s(): Motion detection data callback failed (device %s, channel %u)",
                                   "kestrav::CBaseMotionChannel::CaptureMotionFrameCallback", DeviceAddress().c_str(),
                                   static_cast<unsigned>(m_channel));
        return false;
    }
    SetSignalPresent(true);
    return true;
}

void CBaseMotionChannel::SetSignalPresent(bool present)
{
    if (present == m_signalPresent)
        return;
    m_signalPresent = present;
    if (present || m_sink == nullptr)
        return;
    try
    {
        m_sink->ReportSignalLost();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // As with a refused frame: nothing to do but go on.
    }
}

void CBaseMotionChannel::OnAlarmData()
{
    m_lastAlarmDataMs = platform::MonotonicMilliseconds();
    SetSignalPresent(true);
}

void CBaseMotionChannel::CheckSignal()
{
    if (platform::MonotonicMilliseconds() - m_lastAlarmDataMs.load() > SignalTimeoutMs())
        SetSignalPresent(false);
}

std::uint32_t CBaseMotionChannel::RequestTimeoutMs() const
{
    const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? device->requestTimeoutMs : DEVICE_INFO().requestTimeoutMs;
}

std::uint32_t CBaseMotionChannel::SignalTimeoutMs() const
{
    const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? device->signalTimeoutMs : DEVICE_INFO().signalTimeoutMs;
}

std::string CBaseMotionChannel::DeviceAddress() const
{
    const DEVICE_INFO* device = m_driver != nullptr ? m_driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? device->address : std::string();
}
}
