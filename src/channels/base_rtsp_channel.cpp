#include "channels/base_rtsp_channel.h"

#include "core/driver_services.h"
#include "platform/clock.h"
#include "rtsp/rtsp_session_params.h"
#include "runtime/format_string.h"
#include "text/text_utils.h"

namespace kestrav
{
CBaseRTSPChannel::CBaseRTSPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CBaseRTPChannel(channel, driver, sink), m_session(driver)
{
}

CBaseRTSPChannel::~CBaseRTSPChannel()
{
    StopChannelThreads();
}

void CBaseRTSPChannel::StopChannelThreads()
{
    CBaseCameraChannel::Stop();
    StopStreaming();
}

bool CBaseRTSPChannel::Pause()
{
    if (!SetPaused(true))
        return false;
    m_session.RequestPause();
    return true;
}

bool CBaseRTSPChannel::Resume()
{
    if (!IsPaused())
        return false;
    // A stream that kept running while paused must not look silent for the pause's length.
    if (GetState() == kChannelReceiving)
        LastFrameTime().Update();
    m_session.RequestPlay();
    SetPaused(false);
    return true;
}

void CBaseRTSPChannel::WakeCaptureThread()
{
    m_session.CancelConnect();
}

bool CBaseRTSPChannel::StartStreaming()
{
    // Before the stop event is looked at: a stop from now on cancels the connection attempt.
    m_session.AllowConnect();
    if (!CBaseRTPChannel::StartStreaming())
    {
        if (!StopEvent().Wait(0))
            ReportStreamFailure("ports", "kestrav::CBaseRTSPChannel::StartStreaming",
                                FormatString("No free pair of UDP ports for the stream of %s%s",
                                             DeviceTextInSentence().c_str(), StreamSuffix().c_str()));
        return false;
    }
    const DEVICE_INFO& device = *GetDriver()->GetDeviceInfo();
    RTSPSessionParams params;
    params.deviceAddress = device.address;
    params.userName = device.userName;
    params.password = device.password;
    params.connectTimeoutMs = device.requestTimeoutMs;
    params.receiveTimeoutMs = device.requestTimeoutMs;
    params.clientRtpPort = GetRtpPort();
    params.clientRtcpPort = GetRtcpPort();
    FillSessionParams(params);
    if (StopEvent().Wait(0))
        return false;
    m_streamPath = params.streamPath;
    const std::uint64_t started = platform::MonotonicMilliseconds();
    if (m_session.StartSession(params, this, IsRtpOverRtsp() ? kTransportInterleaved : kTransportUdp))
        return true;
    if (!StopEvent().Wait(0))
        ReportSessionStartFailure(params, platform::MonotonicMilliseconds() - started);
    return false;
}

// The session starts with the connection; whether the camera refused it or never answered
// tells a stopped service from a network that loses the way.
void CBaseRTSPChannel::ReportSessionStartFailure(const RTSPSessionParams& params, std::uint64_t elapsedMs)
{
    constexpr const char* kMethod = "kestrav::CBaseRTSPChannel::StartStreaming";
    const std::string device = DeviceText() + StreamSuffix();
    if (ResolveIPv4(params.deviceAddress) == 0)
    {
        ReportStreamFailure("rtsp-resolve", kMethod,
                            FormatString("The address of %s does not resolve", DeviceTextInSentence().c_str()));
        return;
    }
    // The connection is polled in steps of 100 ms: the last step ends just short of the time-out.
    if (elapsedMs + 100 >= params.connectTimeoutMs)
        ReportStreamFailure("rtsp-connect-timeout", kMethod,
                            FormatString("%s did not accept the RTSP connection to port %u within %u ms",
                                         device.c_str(), unsigned{params.rtspPort}, params.connectTimeoutMs));
    else
        ReportStreamFailure("rtsp-connect-refused", kMethod,
                            FormatString("%s refused the RTSP connection to port %u, or cannot be reached",
                                         device.c_str(), unsigned{params.rtspPort}));
}

void CBaseRTSPChannel::ReportLostStream(const StreamEnd& end)
{
    const std::optional<CBaseRTSPClient::Failure> failure = m_session.GetLastFailure();
    if (!failure)
    {
        // Over UDP a session that answers while no packet comes points at the network between;
        // inside the RTSP connection the two cannot part.
        ReportSilence(end, end.overRtsp ? "" : ", while its RTSP session answers");
        return;
    }
    constexpr const char* kMethod = "kestrav::CBaseRTSPChannel::ReportLostStream";
    const std::string device = DeviceText() + StreamSuffix();
    const char* method = RtspMethodName(failure->request);
    const std::uint32_t receiveTimeoutMs = GetDriver()->GetDeviceInfo()->requestTimeoutMs;
    if (failure->sessionEnded)
    {
        if (failure->status != 0)
            ReportStreamFailure(FormatString("rtsp-end-%u", failure->status), kMethod,
                                FormatString("%s ended the RTSP session of \"%s\": status %u", device.c_str(),
                                             m_streamPath.c_str(), failure->status));
        else
            ReportStreamFailure("rtsp-end", kMethod,
                                FormatString("%s ended the RTSP session of \"%s\": the connection was closed or a "
                                             "keep-alive went unanswered",
                                             device.c_str(), m_streamPath.c_str()));
        return;
    }
    if (failure->status != 0)
        ReportStreamFailure(FormatString("rtsp-%s-%u", method, failure->status), kMethod,
                            FormatString("%s refused the RTSP %s of \"%s\": status %u%s", device.c_str(), method,
                                         m_streamPath.c_str(), failure->status,
                                         failure->status == 401 ? ", the credentials were not accepted" : ""));
    else if (failure->elapsedMs + 100 >= receiveTimeoutMs)
        ReportStreamFailure(FormatString("rtsp-%s-timeout", method), kMethod,
                            FormatString("%s did not answer the RTSP %s of \"%s\" within %u ms", device.c_str(), method,
                                         m_streamPath.c_str(), receiveTimeoutMs));
    else
        ReportStreamFailure(FormatString("rtsp-%s-none", method), kMethod,
                            FormatString("%s gave no answer to the RTSP %s of \"%s\": the connection was closed or "
                                         "the answer was not RTSP",
                                         device.c_str(), method, m_streamPath.c_str()));
}

void CBaseRTSPChannel::StopStreaming()
{
    m_session.StopSession();
    CBaseRTPChannel::StopStreaming();
}

// A session the camera ended for certain is reopened at once; silence keeps its time-outs.
bool CBaseRTSPChannel::IsSignalAlive()
{
    const bool sessionAlive = m_session.IsLastRequestOk() && !m_session.HasSessionEnded();
    if (IsPaused())
        return sessionAlive && CBaseRTPChannel::IsSignalAlive();
    return CBaseRTPChannel::IsSignalAlive() && sessionAlive;
}
}
