#include "channels/base_rtsp_channel.h"

#include "core/driver_services.h"
#include "rtsp/rtsp_session_params.h"

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
        return false;
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
    return m_session.StartSession(params, this, IsRtpOverRtsp() ? kTransportInterleaved : kTransportUdp);
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
