#include "channels/h264_channel_rtsp.h"

#include "rtsp/rtsp_session_params.h"
#include "runtime/format_string.h"

namespace kestrav
{
CH264ChannelRTSP::CH264ChannelRTSP(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CCommonChannel(channel, driver, sink), m_parser(driver)
{
    m_parser.SetClient(this);
}

CH264ChannelRTSP::~CH264ChannelRTSP()
{
    // The parser goes before the base classes stop the threads that feed it.
    StopChannelThreads();
}

void CH264ChannelRTSP::OnParameterSets(const ParameterSets& sets)
{
    std::lock_guard lock(m_pendingLock);
    m_pendingSets = sets;
    m_setsPending = true;
}

void CH264ChannelRTSP::ProcessPacket(const CRTPPacket& packet)
{
    // Every packet passes here; the lock is taken only when the session delivered new sets.
    std::optional<ParameterSets> sets;
    if (m_setsPending.load(std::memory_order_acquire))
    {
        std::lock_guard lock(m_pendingLock);
        sets.swap(m_pendingSets);
        m_setsPending = false;
    }
    if (sets)
        m_parser.SetParameterSets(*sets);
    m_parser.ProcessPacket(packet);
}

void CH264ChannelRTSP::FillSessionParams(RTSPSessionParams& params)
{
    params.rtspPort = GetRtspPort();
    params.streamPath = "rtsph264" + SelectResolution(kCapabilityCodecH264, false);
}

// The key-frame period equals the frame rate: one key frame per second.
bool CH264ChannelRTSP::ConfigureStream()
{
    const std::uint32_t frameRate = SelectFrameRate(kCapabilityCodecH264);
    const std::string path =
        FormatString("/setstreaming?profilename=H264%s&vbrcbr=0&bitrate=%u&Iframeperiod=%u&outrate=%u",
                     SelectResolution(kCapabilityCodecH264, true).c_str(), SelectBitRate(), frameRate, frameRate);
    return SendCameraRequest(path);
}
}
