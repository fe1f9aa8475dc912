// The JPEG channel of this camera family: configures the camera's stream for the host's request
// with one "/setstreaming" call, opens the stream path named after the chosen resolution, and
// feeds the packets to its depacketizer.
#pragma once

#include "channels/common_channel.h"
#include "media/jpeg_depacketizer.h"

namespace kestrav
{
class CJpegChannelRTSP : public CCommonChannel
{
public:
    CJpegChannelRTSP(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CJpegChannelRTSP() override;

    // JPEG sessions have no parameter sets.
    void OnParameterSets(const ParameterSets&) override {}

protected:
    void ProcessPacket(const CRTPPacket& packet) override;
    void FillSessionParams(RTSPSessionParams& params) override;
    bool ConfigureStream() override;

private:
    CJpegRTPMediaParser m_parser;
};
}
