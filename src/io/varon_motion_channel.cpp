#include "io/varon_motion_channel.h"

#include <algorithm>

#include "core/driver_services.h"
#include "platform/thread_termination.h"

namespace kestrav
{
namespace
{
DEVICE_INFO DeviceOf(IDriver* driver)
{
    const DEVICE_INFO* device = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? *device : DEVICE_INFO();
}
}

CVaronMotionChannel::CVaronMotionChannel(std::int32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink,
                                         platform::IHttpTransport& transport)
    : CBaseMotionChannel(channel, driver, sink), CLoggerInstance(driver), m_sender(DeviceOf(driver), transport)
{
}

CVaronMotionChannel::~CVaronMotionChannel()
{
    Stop();
}

void CVaronMotionChannel::CancelRequest()
{
    m_sender.CloseRequest();
}

void CVaronMotionChannel::ThreadFunction()
{
    const ThreadRunMarker marker(*this);
    while (!IsStopRequested())
    {
        try
        {
            ReadAlarmStream();
        }
        KESTRAV_PASS_THREAD_TERMINATION
        catch (...)
        {
            Driver()->SendDebugMessage(
                kLogError, "%s(): Unhandled exception during \"Motion detection\" thread processing for device %s",
                "kestrav::CVaronMotionChannel::ThreadFunction", Driver()->GetDeviceAddress().c_str());
        }
        // Also a camera that cannot be reached at all goes silent.
        if (!StopEvent().Wait(kReconnectDelayMs))
            CheckSignal();
    }
}

void CVaronMotionChannel::ReadAlarmStream()
{
    if (IsStopRequested())
        return;
    const bool sent = m_sender.SendRequest(Web::HttpRequest("GET", kAlarmPath));
    // A stop may have come while the request was being opened, with nothing yet to close.
    if (IsStopRequested() || !sent || m_sender.GetStatusCode() / 100 != 2)
    {
        // An error page is no alarm data.
        m_sender.CloseRequest();
        return;
    }
    std::vector<std::uint8_t> buffer;
    while (!IsStopRequested())
    {
        // Blocks until the camera writes or the request time-out passes; either way the silence is measured.
        const std::uint32_t available = m_sender.QueryDataAvailable();
        CheckSignal();
        if (available == 0)
            break;
        if (m_sender.Read(buffer, std::min(available, Web::CBaseHttpSender::kReadChunk), true) == 0)
            break;
        // Only whole parts show a working camera: bytes that never close a part (a part without
        // end, or another server's page) must not keep the signal up.
        if (HandleAlarmChunk(std::string_view(reinterpret_cast<const char*>(buffer.data()), buffer.size())))
            OnAlarmData();
    }
    m_sender.CloseRequest();
    // The next response starts with a part of its own.
    m_parser.Clear();
}

bool CVaronMotionChannel::HandleAlarmChunk(std::string_view bytes)
{
    m_states.clear();
    m_parser.HandleAlarmChunk(bytes, m_states);
    for (const bool state : m_states)
        ReportMotionState(state);
    return !m_states.empty();
}
}
