// A camera channel whose video arrives as RTP: it picks free UDP ports, owns the RTP receiver
// and the RTCP handler, supervises the signal and reopens the stream after a loss, and stamps
// frames with wall-clock times converted from their RTP timestamps.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "channels/base_camera_channel.h"
#include "channels/failure_run.h"
#include "channels/timestamp_converter.h"
#include "media/media_parser_client.h"
#include "rtp/rtcp_handler.h"
#include "rtp/rtp_receiver.h"
#include "rtp/rtp_receiver_user.h"
#include "rtp/rtp_sequence_gate.h"
#include "runtime/event.h"
#include "runtime/time_value.h"

namespace kestrav
{
class CRTPPacket;

class CBaseRTPChannel : public CBaseCameraChannel, public IRTPReceiverUser, public IMediaParserClient
{
public:
    // Even RTP ports are probed from here, RTCP on the next odd one.
    static constexpr std::uint16_t kFirstRtpPort = 3556;
    static constexpr std::uint16_t kLastRtpPort = 4555;
    static constexpr std::uint32_t kKeepAlivePeriodMs = 30000;
    // How long a freshly opened port must stay silent to count as free.
    static constexpr std::uint32_t kStrayTrafficWaitMs = 1000;

    CBaseRTPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CBaseRTPChannel() override;

    // IRTPReceiverUser
    void OnInterleavedPacket(const CRTPPacket& packet) override;
    void OnPacket(const platform::SocketAddressV4& source, const CRTPPacket& packet) override;
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override {}
    void OnServerPorts(std::uint16_t rtpPort, std::uint16_t rtcpPort) override;
    void OnInterleavedReport(std::span<const std::uint8_t> report) override;
    void OnSessionEnded() override { m_reopenEvent.Set(); }
    std::vector<std::uint8_t> BuildInterleavedReport() override;

    // IMediaParserClient
    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override;
    std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() override;
    void ConvertTimeStamp(std::uint32_t rtpTimestamp, ipcapture::SystemTime& time) override;

    // Tests probe elsewhere and shorten the waits; the defaults are the constants above.
    void SetPortRange(std::uint16_t first, std::uint16_t last);
    void SetStrayTrafficWait(std::uint32_t milliseconds) { m_strayTrafficWaitMs = milliseconds; }

    std::uint16_t GetRtpPort() { return m_receiver.GetLocalPort(); }
    std::uint16_t GetRtcpPort() { return m_rtcp.GetLocalPort(); }
    bool IsRtpOverRtsp() const { return m_rtpOverRtsp; }

protected:
    unsigned CaptureThread() override;
    virtual bool StartStreaming();
    virtual void StopStreaming();
    virtual void KeepAlive() {}
    // Family-specific stream selection before the stream is opened.
    virtual bool PrepareStreaming() = 0;
    // Hands one packet to the depacketizer.
    virtual void ProcessPacket(const CRTPPacket& packet) = 0;
    virtual bool IsSignalAlive();

    CRTCPHandler& Rtcp() { return m_rtcp; }

    // What the RTP side saw of a stream that was opened and gave no video, or stopped giving it;
    // taken before the stream is closed for the next attempt.
    struct StreamEnd
    {
        bool cameraSaidBye = false;
        bool gotFrames = false;
        // In the last pass of the capture loop (about a second), or since the open.
        bool packetsCame = false;
        std::uint32_t silenceMs = 0;
        std::uint16_t rtpPort = 0;
        bool overRtsp = false;
    };
    // One failed attempt to get the stream going; the first failure of each kind in a run of
    // them is logged as a warning "<method>: <text>". Capture thread only.
    void ReportStreamFailure(std::string_view kind, const char* method, const std::string& text);
    // Why a stream opened before is opened again; by default what the RTP side saw. Capture thread.
    virtual void ReportLostStream(const StreamEnd& end);
    // `sessionNote` follows the time, e.g. ", while its RTSP session answers".
    void ReportSilence(const StreamEnd& end, std::string_view sessionNote);

private:
    void PassThroughGate(const CRTPPacket& packet);
    void AcceptPacket(const CRTPPacket& packet);
    bool OpenStream();
    bool OpenPorts();
    void SuperviseSignal();
    void OnStreamWorks();

    std::uint32_t m_keepAlivePeriodMs = kKeepAlivePeriodMs;
    CTime m_keepAliveTimer;
    // Network order; 0 when the device's address does not resolve. Resolved again at each reopen:
    // a name that did not resolve once, or moved, must not cost the channel's whole life.
    std::atomic<std::uint32_t> m_deviceAddress;
    CTimeStampConverter m_converter;
    // Used from the packet path only, like the converter; reset at each start of the stream.
    CRTPSequenceGate m_gate;
    CRTPReceiver m_receiver;
    CRTCPHandler m_rtcp;
    CManualEvent m_packetEvent;
    CManualEvent m_frameEvent;
    // Set when the camera ended the session: the capture thread looks at the signal at once.
    CEvent m_reopenEvent{false};
    std::atomic<bool> m_rtpOverRtsp{false};
    std::uint16_t m_firstPort = kFirstRtpPort;
    std::uint16_t m_lastPort = kLastRtpPort;
    std::uint32_t m_strayTrafficWaitMs = kStrayTrafficWaitMs;
    // The capture thread's own: the failed attempts since the stream last worked, and the attempt
    // under way.
    CFailureRun m_failures;
    bool m_streamOpen = false;
    bool m_gotFrames = false;
    CTime m_streamOpenedAt;
};
}
