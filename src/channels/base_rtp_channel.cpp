#include "channels/base_rtp_channel.h"

#include <algorithm>
#include <optional>

#include "core/configuration.h"
#include "core/driver_services.h"
#include "platform/clock.h"
#include "rtp/rtp_packet.h"
#include "rtsp/rtsp_session_params.h"
#include "runtime/format_string.h"
#include "text/text_utils.h"

namespace kestrav
{
CBaseRTPChannel::CBaseRTPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CBaseCameraChannel(channel, driver, sink), m_deviceAddress(ResolveIPv4(driver->GetDeviceInfo()->address)),
      m_receiver(driver), m_rtcp(driver)
{
}

CBaseRTPChannel::~CBaseRTPChannel()
{
    // The capture thread uses the members of this class: it ends before they go.
    CBaseCameraChannel::Stop();
    StopStreaming();
}

void CBaseRTPChannel::SetPortRange(std::uint16_t first, std::uint16_t last)
{
    m_firstPort = first;
    m_lastPort = last;
}

void CBaseRTPChannel::OnInterleavedPacket(const CRTPPacket& packet)
{
    m_packetEvent.Set();
    PassThroughGate(packet);
}

// Only packets that follow on from the stream's position reach the depacketizer and the reports;
// others wait on probation until the stream confirms them, and forged ones never do; packets
// swapped on the way are put back in order.
void CBaseRTPChannel::PassThroughGate(const CRTPPacket& packet)
{
    switch (m_gate.Admit(packet))
    {
    case CRTPSequenceGate::Verdict::Hold:
        return;
    case CRTPSequenceGate::Verdict::PassAfterReleased:
        for (const CRTPPacket& held : m_gate.TakeReleased())
            AcceptPacket(held);
        break;
    case CRTPSequenceGate::Verdict::ReleasedOnly:
        for (const CRTPPacket& held : m_gate.TakeReleased())
            AcceptPacket(held);
        return;
    case CRTPSequenceGate::Verdict::PassBeforeReleased:
        AcceptPacket(packet);
        for (const CRTPPacket& held : m_gate.TakeReleased())
            AcceptPacket(held);
        return;
    case CRTPSequenceGate::Verdict::Pass:
        break;
    }
    AcceptPacket(packet);
}

void CBaseRTPChannel::AcceptPacket(const CRTPPacket& packet)
{
    m_rtcp.UpdateSequence(packet.GetSequenceNumber(), packet.GetSSRC());
    ProcessPacket(packet);
}

void CBaseRTPChannel::OnInterleavedReport(std::span<const std::uint8_t> report)
{
    m_rtcp.OnInterleavedReport(report);
}

std::vector<std::uint8_t> CBaseRTPChannel::BuildInterleavedReport()
{
    return m_rtcp.BuildInterleavedReport();
}

void CBaseRTPChannel::OnPacket(const platform::SocketAddressV4& source, const CRTPPacket& packet)
{
    // Datagrams of anyone but the camera never reach the depacketizer.
    if (source.address != m_deviceAddress)
        return;
    // Any packet of the camera's address shows the port in use, forged or not.
    m_packetEvent.Set();
    PassThroughGate(packet);
}

void CBaseRTPChannel::OnServerPorts(std::uint16_t, std::uint16_t rtcpPort)
{
    m_rtcp.SetServerPort(rtcpPort);
}

bool CBaseRTPChannel::OnFrame(ipcapture::IIPMediaBuffer* frame)
{
    m_frameEvent.Set();
    if (!SendFrameCallback(frame))
        return false;
    LastFrameTime().Update();
    if (!StopEvent().Wait(0))
        SetCameraState(true);
    return true;
}

std::pair<std::uint32_t, std::uint32_t> CBaseRTPChannel::GetFrameParameters()
{
    return {GetStartParams().width, GetStartParams().height};
}

void CBaseRTPChannel::ConvertTimeStamp(std::uint32_t rtpTimestamp, ipcapture::SystemTime& time)
{
    m_converter.Update(rtpTimestamp);
    if (!m_converter.GetFrameTime(&time))
        platform::FileTimeToSystemTime(platform::FileTimeNow(), &time);
}

// No packet thread runs here: the previous stream's receiver and session are closed.
bool CBaseRTPChannel::StartStreaming()
{
    m_converter.Reset();
    m_gate.Reset();
    if (m_rtpOverRtsp)
        return true;
    return OpenPorts();
}

// A port on which packets arrive before any stream was asked for belongs to another stream.
bool CBaseRTPChannel::OpenPorts()
{
    m_receiver.SetUser(this);
    CEvent* const events[] = {&StopEvent(), &m_packetEvent};
    for (std::uint32_t port = m_firstPort; port <= m_lastPort && !StopEvent().Wait(0); port += 2)
    {
        m_packetEvent.Reset();
        if (!m_receiver.OpenReceiver(static_cast<std::uint16_t>(port), kTransportUdp))
            continue;
        if (WaitForAnyEvent(events, 2, m_strayTrafficWaitMs) < 0 &&
            m_rtcp.StartRTCP(m_deviceAddress, static_cast<std::uint16_t>(port + 1)))
            return true;
        m_receiver.CloseReceiver();
        m_rtcp.StopRTCP();
    }
    return false;
}

void CBaseRTPChannel::StopStreaming()
{
    m_receiver.CloseReceiver();
    m_rtcp.StopRTCP();
}

// A BYE of the camera ends the stream for certain: it is reopened now, not after the silence.
bool CBaseRTPChannel::IsSignalAlive()
{
    if (m_rtcp.CameraSaidBye())
        return false;
    if (IsPaused())
        return true;
    return LastFrameTime().ElapsedMilliseconds() < GetDriver()->GetDeviceInfo()->signalTimeoutMs / 2;
}

bool CBaseRTPChannel::OpenStream()
{
    SetState(kChannelStopped);
    // What the last stream showed is gone once it is closed.
    std::optional<StreamEnd> lost;
    if (m_streamOpen)
    {
        lost =
            StreamEnd{m_rtcp.CameraSaidBye(),
                      m_gotFrames,
                      m_packetEvent.Wait(0),
                      static_cast<std::uint32_t>(std::min<std::uint64_t>(
                          {LastFrameTime().ElapsedMilliseconds(), m_streamOpenedAt.ElapsedMilliseconds(), UINT32_MAX})),
                      GetRtpPort(),
                      m_rtpOverRtsp};
        m_streamOpen = false;
    }
    StopStreaming();
    if (lost && !StopEvent().Wait(0))
        ReportLostStream(*lost);
    const DEVICE_INFO& device = *GetDriver()->GetDeviceInfo();
    m_deviceAddress = ResolveIPv4(device.address);
    CConfiguration configuration(device, GetDriver()->GetDriverName(), GetDriver()->GetHostDirectory());
    m_rtpOverRtsp = configuration.ReadRTPMode(GetChannelNumber()) == kTransportInterleaved;
    m_frameEvent.Reset();
    // The ports reset it again while they are probed; over RTSP nothing else would.
    m_packetEvent.Reset();
    if (!PrepareStreaming())
    {
        SetState(kChannelStopped);
        StopStreaming();
        return false;
    }
    if (!StartStreaming())
        return false;
    m_streamOpen = true;
    m_gotFrames = false;
    m_streamOpenedAt.Update();
    return true;
}

unsigned CBaseRTPChannel::CaptureThread()
{
    const DEVICE_INFO& device = *GetDriver()->GetDeviceInfo();
    LastFrameTime().Update();
    m_failures.Reset();
    m_streamOpen = false;
    const std::uint32_t firstFrameWait = std::max(device.signalTimeoutMs / 2, device.requestTimeoutMs);
    CEvent* const firstFrame[] = {&StopEvent(), &m_frameEvent};
    for (;;)
    {
        std::uint32_t wait = 1000;
        if (GetState() == kChannelReceiving)
        {
            if (m_keepAliveTimer.ElapsedMilliseconds() > m_keepAlivePeriodMs)
            {
                KeepAlive();
                m_keepAliveTimer.Update();
            }
        }
        else if (OpenStream())
        {
            if (IsPaused())
            {
                SetState(kChannelReceiving);
                SetCameraState(true);
            }
            const int fired = WaitForAnyEvent(firstFrame, 2, firstFrameWait);
            if (fired < 0)
                wait = 10;
            else if (fired == 1)
            {
                SetState(kChannelReceiving);
                OnStreamWorks();
            }
        }
        CEvent* const wakes[] = {&StopEvent(), &m_reopenEvent};
        if (WaitForAnyEvent(wakes, 2, wait) == 0)
            break;
        if (!IsSignalAlive())
            SuperviseSignal();
        else if (GetState() == kChannelReceiving)
            m_packetEvent.Reset(); // so that a loss shows whether packets still came at its end
    }
    SetState(kChannelStopped);
    StopStreaming();
    if (!IsPaused())
        SetCameraState(false);
    return 0;
}

// Half the signal time-out without frames: signal lost, and the next pass reopens the stream.
// The whole time-out: the host is told and the channel goes offline.
void CBaseRTPChannel::SuperviseSignal()
{
    SetState(kChannelSignalLost);
    if (LastFrameTime().ElapsedMilliseconds() < GetDriver()->GetDeviceInfo()->signalTimeoutMs)
        return;
    ReportSignalLost();
    SetCameraState(false);
}

void CBaseRTPChannel::ReportStreamFailure(std::string_view kind, const char* method, const std::string& text)
{
    if (m_failures.Fail(kind))
        GetDriver()->SendDebugMessage(kLogWarning, "%s: %s", method, text.c_str());
}

void CBaseRTPChannel::OnStreamWorks()
{
    m_gotFrames = true;
    const std::uint32_t failed = m_failures.Recover();
    if (failed == 0)
        return;
    GetDriver()->SendDebugMessage(kLogInformation, "%s: The stream of %s%s works again after %u failed attempt%s",
                                  "kestrav::CBaseRTPChannel::CaptureThread", DeviceTextInSentence().c_str(),
                                  StreamSuffix().c_str(), failed, failed == 1 ? "" : "s");
}

void CBaseRTPChannel::ReportLostStream(const StreamEnd& end)
{
    ReportSilence(end, {});
}

// Packets that stop tell of the network or a camera that stopped sending; packets without
// frames tell of a camera that sends what cannot be put together.
void CBaseRTPChannel::ReportSilence(const StreamEnd& end, std::string_view sessionNote)
{
    constexpr const char* kMethod = "kestrav::CBaseRTPChannel::ReportLostStream";
    const std::string device = DeviceTextInSentence() + StreamSuffix();
    if (end.cameraSaidBye)
    {
        ReportStreamFailure("bye", kMethod,
                            FormatString("The stream of %s was ended by the camera with an RTCP BYE", device.c_str()));
        return;
    }
    const std::string path =
        end.overRtsp ? std::string("over the RTSP connection") : FormatString("to UDP port %u", unsigned{end.rtpPort});
    const std::string note(sessionNote);
    if (!end.packetsCame)
    {
        ReportStreamFailure("no-packets", kMethod,
                            end.gotFrames
                                ? FormatString("The video of %s %s stopped %u ms ago and no RTP packet comes any "
                                               "more%s; the stream is opened again",
                                               device.c_str(), path.c_str(), end.silenceMs, note.c_str())
                                : FormatString("No RTP packet came from %s %s within %u ms%s; the stream is opened "
                                               "again",
                                               device.c_str(), path.c_str(), end.silenceMs, note.c_str()));
        return;
    }
    ReportStreamFailure("no-frames", kMethod,
                        FormatString("RTP packets come from %s %s but no whole frame for %u ms%s; the stream is "
                                     "opened again",
                                     device.c_str(), path.c_str(), end.silenceMs, note.c_str()));
}
}
