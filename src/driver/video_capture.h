// The per-device video capture object the host runs channels through.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <brantel/channel_params.h>
#include <brantel/video_capture.h>

#include "channels/camera_channel.h"
#include "io/motion_channel.h"
#include "runtime/recursive_lock.h"

namespace kestrav
{
class IVideoChannelCreator;

// Owns one table entry per video channel of the device: four stream places (main, live,
// remote, spare) and a motion place. The table lock guards lookups and replacements
// only; channels are started, stopped and deleted outside it, and calls on a channel
// hold a share of it so that a concurrent stop cannot delete it under the caller.
class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx2
{
public:
    static constexpr std::uint32_t kStreamPlaces = 4;

    CIPVideoCapture(IVideoChannelCreator* creator, std::uint32_t channelCount);
    ~CIPVideoCapture() override;
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    std::uint32_t GetChannelCount() override;
    bool StartChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                      ipcapture::IIPChannelParams* params) override;
    bool StopChannel(std::uint32_t channel) override;
    bool RestartChannel(std::uint32_t channel, ipcapture::IIPResolution* resolution,
                        std::uint16_t frameRateCode) override;
    std::uint32_t GetUnsupportedAccessor5() override { return 0; }
    bool GetChannelState(std::uint32_t channel, std::int32_t* state, std::int32_t* extra, char* text,
                         std::uint32_t textSize) override;
    bool UnsupportedOperation7(std::uint32_t, void*, std::uint32_t) override { return false; }
    bool UnsupportedOperation8(std::uint32_t, void*, std::uint32_t) override { return false; }
    bool ResumeChannel(std::uint32_t channel) override;
    bool PauseChannel(std::uint32_t channel) override;
    bool StartStream(std::uint32_t channel, std::uint32_t streamKind, ipcapture::IIPFrameSink* sink,
                     ipcapture::IIPChannelParams* params) override;
    bool StopStream(std::uint32_t channel, std::uint32_t streamKind) override;

private:
    using ChannelPtr = std::shared_ptr<ICameraChannel>;
    using MotionPtr = std::shared_ptr<IMotionChannel>;

    struct ChannelSlot
    {
        std::array<ChannelPtr, kStreamPlaces> streams;
        MotionPtr motion;
    };

    bool StartGuarded(std::uint32_t channel, std::uint32_t place, ipcapture::IIPFrameSink* sink,
                      ipcapture::IIPChannelParams* params, bool isChannelStart);
    bool StartInPlace(std::uint32_t channel, std::uint32_t place, ipcapture::IIPFrameSink* sink,
                      ipcapture::IIPChannelParams* params, bool isChannelStart);
    // Puts the channels into their places and stops what was there, outside the lock.
    void Store(std::uint32_t channel, std::uint32_t place, ChannelPtr stream, MotionPtr motion, bool withMotion);
    ChannelPtr MainChannel(std::uint32_t channel);
    static void StopAndRelease(ChannelPtr stream);
    static void StopAndRelease(MotionPtr motion);

    IVideoChannelCreator* m_creator;
    CRecursiveLock m_tableLock;
    std::vector<ChannelSlot> m_table;
};

// The start parameters a host's channel parameter objects describe; nullopt when one of
// the objects is missing.
std::optional<ChannelStartParams> ReadStartParams(ipcapture::IIPChannelParams* params, std::uint32_t streamKind);
}
