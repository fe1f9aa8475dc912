// The H.264 channel of this camera family: configures the camera's stream for the host's request
// with one "/setstreaming" call, opens the stream path named after the chosen resolution, and
// feeds the packets to its depacketizer.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "channels/common_channel.h"
#include "core/parameter_sets.h"
#include "media/h264_depacketizer.h"

namespace kestrav
{
class CH264ChannelRTSP : public CCommonChannel
{
public:
    CH264ChannelRTSP(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CH264ChannelRTSP() override;

    void OnParameterSets(const ParameterSets& sets) override;

protected:
    void ProcessPacket(const CRTPPacket& packet) override;
    void FillSessionParams(RTSPSessionParams& params) override;
    bool ConfigureStream() override;

private:
    CH264RTPMediaParser m_parser;
    // The session thread learns the sets while the UDP receiver thread may already be feeding
    // the parser: the sets wait here and the packet thread hands them over, so that the parser
    // stays on one thread and no lock is held while it delivers a frame.
    std::mutex m_pendingLock;
    std::optional<ParameterSets> m_pendingSets;
    std::atomic<bool> m_setsPending{false};
};
}
