// The per-device video capture object the host runs channels through.
#pragma once

#include <brantel/video_capture.h>

#include "runtime/recursive_lock.h"

namespace kestrav
{
class IVideoChannelCreator;

// So far it knows its channel count; the channel table arrives with the channels.
class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx2
{
public:
    CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount)
        : m_creator(creator), m_channelCount(channelCount)
    {
    }

    std::uint32_t GetChannelCount() override;
    bool StartChannel(std::uint32_t, ipcapture::IIPFrameSink*, ipcapture::IIPChannelParams*) override { return false; }
    bool StopChannel(std::uint32_t) override { return false; }
    bool RestartChannel(std::uint32_t, ipcapture::IIPResolution*, std::uint16_t) override { return false; }
    std::uint32_t GetUnsupportedAccessor5() override { return 0; }
    bool GetChannelState(std::uint32_t channel, std::int32_t* state, std::int32_t* extra, char* text,
                         std::uint32_t textSize) override;
    bool UnsupportedOperation7(std::uint32_t, void*, std::uint32_t) override { return false; }
    bool UnsupportedOperation8(std::uint32_t, void*, std::uint32_t) override { return false; }
    bool ResumeChannel(std::uint32_t) override { return false; }
    bool PauseChannel(std::uint32_t) override { return false; }
    bool StartStream(std::uint32_t, std::uint32_t, ipcapture::IIPFrameSink*, ipcapture::IIPChannelParams*) override
    {
        return false;
    }
    bool StopStream(std::uint32_t, std::uint32_t) override { return false; }

private:
    [[maybe_unused]] IVideoChannelCreator* m_creator;
    CRecursiveLock m_tableLock;
    std::uint32_t m_channelCount;
};
}
