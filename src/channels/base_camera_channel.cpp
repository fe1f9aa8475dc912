#include "channels/base_camera_channel.h"

#include <cctype>

#include "core/driver_services.h"
#include "platform/sockets.h"
#include "platform/thread_termination.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
// A terminated capture thread gets this long to unwind before it is left running.
constexpr std::uint32_t kTerminationGraceMilliseconds = 2000;

// "Camera …" becomes "camera …", "Video-server …" becomes "video-server …".
std::string LowerFirst(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}
}

CBaseCameraChannel::CBaseCameraChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : m_sink(sink), m_channel(channel), m_driver(driver)
{
}

CBaseCameraChannel::~CBaseCameraChannel()
{
    CBaseCameraChannel::Stop();
}

bool CBaseCameraChannel::Start(const ChannelStartParams& params)
{
    Stop();
    m_params = params;
    if (!m_socketsStarted)
        m_socketsStarted = platform::StartSockets();
    if (StartCaptureThread())
        return true;
    if (m_socketsStarted)
    {
        platform::CleanupSockets();
        m_socketsStarted = false;
    }
    return false;
}

void CBaseCameraChannel::Stop()
{
    // First, so that a frame still on its way does not announce the camera online after the
    // offline line.
    m_stopEvent.Set();
    SetState(kChannelStopped);
    SetCameraState(false);
    StopThread();
    if (m_socketsStarted)
    {
        platform::CleanupSockets();
        m_socketsStarted = false;
    }
}

bool CBaseCameraChannel::Restart(const ChannelStartParams& params)
{
    SetState(kChannelStopped);
    // The capture and packet threads read the parameters: they change only once those ended.
    StopThread();
    const std::uint32_t quality = m_params.quality;
    m_params = params;
    m_params.quality = quality;
    return StartCaptureThread();
}

std::int32_t CBaseCameraChannel::GetState()
{
    CRecursiveLockGuard guard(m_stateLock);
    return m_state;
}

void CBaseCameraChannel::SetState(std::int32_t state)
{
    CRecursiveLockGuard guard(m_stateLock);
    m_state = state;
}

bool CBaseCameraChannel::SetPaused(bool paused)
{
    return m_paused.exchange(paused) != paused;
}

bool CBaseCameraChannel::SendFrameCallback(ipcapture::IIPMediaBuffer* frame)
{
    if (m_paused)
        return true;
    if (m_sink == nullptr || frame == nullptr)
        return false;
    try
    {
        return m_sink->DeliverFrame(frame);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        m_driver->SendDebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                                   "kestrav::CBaseCameraChannel::SendFrameCallback",
                                   m_driver->GetDeviceAddress().c_str());
        return false;
    }
}

void CBaseCameraChannel::ReportSignalLost()
{
    if (m_sink == nullptr)
        return;
    try
    {
        m_sink->ReportSignalLost();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        m_driver->SendDebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                                   "kestrav::CBaseCameraChannel::ReportSignalLost",
                                   m_driver->GetDeviceAddress().c_str());
    }
}

void CBaseCameraChannel::SetCameraState(bool online)
{
    if (m_online.exchange(online) == online)
        return;
    constexpr const char* kMethod = "kestrav::CBaseCameraChannel::SetCameraState";
    const std::string device = DeviceText();
    const std::string suffix = StreamSuffix();
    if (online)
    {
        m_driver->SendDebugMessage(kLogInformation, "%s: %s is online%s", kMethod, device.c_str(), suffix.c_str());
        return;
    }
    switch (GetState())
    {
    case kChannelSignalLost:
        m_driver->SendDebugMessage(kLogError, "%s: Signal was lost for %s%s", kMethod, LowerFirst(device).c_str(),
                                   suffix.c_str());
        break;
    case kChannelStopped:
        m_driver->SendDebugMessage(kLogInformation, "%s: %s is offline%s. Channel was stopped", kMethod, device.c_str(),
                                   suffix.c_str());
        break;
    default:
        m_driver->SendDebugMessage(kLogError, "%s: %s is offline or failed%s", kMethod, device.c_str(), suffix.c_str());
        break;
    }
}

std::string CBaseCameraChannel::DeviceText() const
{
    const std::string& address = m_driver->GetDeviceInfo()->address;
    if (m_driver->GetChannelCount() > 1)
        return FormatString("Video-server %s (channel %u)", address.c_str(), m_channel);
    return FormatString("Camera %s", address.c_str());
}

std::string CBaseCameraChannel::DeviceTextInSentence() const
{
    return LowerFirst(DeviceText());
}

std::string CBaseCameraChannel::StreamSuffix() const
{
    switch (m_params.streamKind)
    {
    case kStreamLive:
        return " (Live)";
    case kStreamRemote:
        return " (Remote)";
    default:
        return {};
    }
}

bool CBaseCameraChannel::StartCaptureThread()
{
    CRecursiveLockGuard guard(m_threadLock);
    if (m_thread != nullptr)
        return true;
    m_stopEvent.Reset();
    m_thread = platform::CreateModuleThread(&CBaseCameraChannel::CaptureThreadEntry, this, &m_threadId);
    return m_thread != nullptr;
}

void CBaseCameraChannel::StopThread()
{
    m_stopEvent.Set();
    CRecursiveLockGuard guard(m_threadLock);
    if (m_thread == nullptr)
        return;
    WakeCaptureThread();
    // The capture thread may stop its own channel; it must not wait for itself.
    if (platform::IsCurrentThread(m_thread))
        return;
    const std::uint32_t wait = 2 * m_driver->GetDeviceInfo()->requestTimeoutMs;
    if (platform::WaitForThreadEnd(m_thread, wait) != platform::WaitResult::Signaled)
        TerminateCaptureThread(wait);
    platform::CloseThreadHandle(m_thread);
    m_thread = nullptr;
}

void CBaseCameraChannel::TerminateCaptureThread(std::uint32_t waitedMilliseconds)
{
    const std::string device = LowerFirst(DeviceText());
    m_driver->SendDebugMessage(kLogWarning,
                               "%s: Video capture thread for %s cannot be stopped and will be terminated now",
                               "kestrav::CBaseCameraChannel::StopThread", device.c_str());
    if (platform::TerminateModuleThread(m_thread, kTerminationGraceMilliseconds))
        return;
    m_driver->SendDebugMessage(kLogError,
                               "%s: Video capture thread for %s did not end %lu milliseconds after its termination "
                               "and is left running",
                               "kestrav::CBaseCameraChannel::StopThread", device.c_str(),
                               static_cast<unsigned long>(waitedMilliseconds + kTerminationGraceMilliseconds));
}

void CBaseCameraChannel::CaptureThreadEntry(void* argument)
{
    auto* channel = static_cast<CBaseCameraChannel*>(argument);
    if (channel == nullptr)
        return;
    try
    {
        channel->CaptureThread();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // No exception may leave a thread inside the host's process.
        channel->m_driver->SendDebugMessage(kLogError, "%s(): Unexpected exception, device %s",
                                            "kestrav::CBaseCameraChannel::CaptureThread",
                                            channel->m_driver->GetDeviceAddress().c_str());
    }
}
}
