// An RTP channel whose stream is opened by an RTSP session: the session's start parameters come
// from the device record and the channel's local ports, pause and resume go to the session, and
// a session whose last request failed counts as a lost signal.
#pragma once

#include <cstdint>
#include <string>

#include "channels/base_rtp_channel.h"
#include "rtsp/rtsp_client.h"

namespace kestrav
{
struct RTSPSessionParams;

class CBaseRTSPChannel : public CBaseRTPChannel
{
public:
    CBaseRTSPChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CBaseRTSPChannel() override;

    bool Pause() override;
    bool Resume() override;

protected:
    bool StartStreaming() override;
    void StopStreaming() override;
    bool IsSignalAlive() override;
    // A camera that takes its time to accept the RTSP connection must not hold up a stop.
    void WakeCaptureThread() override;
    // The codec channel sets the RTSP port and the stream path.
    virtual void FillSessionParams(RTSPSessionParams& params) = 0;
    // A session that failed says how; otherwise the RTP side's view.
    void ReportLostStream(const StreamEnd& end) override;

    // Every destructor down the hierarchy calls this first: the capture, session and receiver
    // threads use members and overrides of the class being destroyed.
    void StopChannelThreads();

    CBaseRTSPClient& Session() { return m_session; }

private:
    void ReportSessionStartFailure(const RTSPSessionParams& params, std::uint64_t elapsedMs);

    CBaseRTSPClient m_session;
    // The stream the last session asked for, for the log.
    std::string m_streamPath;
};
}
