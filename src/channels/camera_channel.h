// The interface of one camera stream channel, as the video capture object sees it.
#pragma once

#include <cstdint>

#include <brantel/channel_params.h>

namespace kestrav
{
// Stream kinds: 0 main (recording), 1 live, 2 remote.
constexpr std::uint32_t kStreamMain = 0;
constexpr std::uint32_t kStreamLive = 1;
constexpr std::uint32_t kStreamRemote = 2;

// Channel states.
constexpr std::int32_t kChannelReceiving = 0;
constexpr std::int32_t kChannelSignalLost = 2;
constexpr std::int32_t kChannelStopped = 3;

struct ChannelStartParams
{
    // 0 means 1 frame per second; with bits 0x7000 all set the low 12 bits are the frame
    // rate; any other value is a frame interval in milliseconds.
    std::uint32_t frameRateCode = 0;
    std::uint32_t quality = 0; // percent
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t streamKind = kStreamMain;
};

class ICameraChannel
{
public:
    virtual ~ICameraChannel() = default;
    virtual void SetPrivacyMasks(ipcapture::IIPPrivacyMaskSource* masks) = 0;
    virtual bool Start(const ChannelStartParams& params) = 0;
    virtual void Stop() = 0;
    virtual bool Restart(const ChannelStartParams& params) = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual std::int32_t GetState() = 0;
};
}
