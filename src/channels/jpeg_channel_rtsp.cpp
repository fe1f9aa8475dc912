#include "channels/jpeg_channel_rtsp.h"

#include "rtsp/rtsp_session_params.h"
#include "runtime/format_string.h"

namespace kestrav
{
CJpegChannelRTSP::CJpegChannelRTSP(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CCommonChannel(channel, driver, sink), m_parser(driver)
{
    m_parser.SetClient(this);
}

CJpegChannelRTSP::~CJpegChannelRTSP()
{
    StopChannelThreads();
}

void CJpegChannelRTSP::ProcessPacket(const CRTPPacket& packet)
{
    m_parser.ProcessPacket(packet);
}

void CJpegChannelRTSP::FillSessionParams(RTSPSessionParams& params)
{
    params.rtspPort = GetRtspPort();
    params.streamPath = "rtspjpeg" + SelectResolution(kCapabilityCodecJpeg, false);
}

bool CJpegChannelRTSP::ConfigureStream()
{
    const std::string path = FormatString("/setstreaming?profilename=JPEG%s&outrate=%u&quality=%u",
                                          SelectResolution(kCapabilityCodecJpeg, true).c_str(),
                                          SelectFrameRate(kCapabilityCodecJpeg), SelectQuality());
    return SendCameraRequest(path);
}
}
