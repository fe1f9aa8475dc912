// The per-device video capture interface chain.
#pragma once

#include <cstdint>

#include <brantel/media.h>

namespace kestrav::ipcapture
{
class IIPChannelParams;
class IIPResolution;

class IIPVideoCapture
{
public:
    virtual ~IIPVideoCapture() = default;
    virtual std::uint32_t GetChannelCount() = 0; // 1
    virtual bool StartChannel(std::uint32_t channel, IIPFrameSink* sink,
                              IIPChannelParams* params) = 0; // 2
    virtual bool StopChannel(std::uint32_t channel) = 0;     // 3
    virtual bool RestartChannel(std::uint32_t channel, IIPResolution* resolution,
                                std::uint16_t frameRateCode) = 0; // 4
    virtual std::uint32_t GetUnsupportedAccessor5() = 0;          // 5: always 0
    virtual bool GetChannelState(std::uint32_t channel, std::int32_t* state, std::int32_t* extra, char* text,
                                 std::uint32_t textSize) = 0; // 6
    virtual bool UnsupportedOperation7(std::uint32_t channel, void* data,
                                       std::uint32_t size) = 0; // 7: always false
    virtual bool UnsupportedOperation8(std::uint32_t channel, void* data,
                                       std::uint32_t size) = 0; // 8: always false
};

class IIPVideoCaptureEx : public IIPVideoCapture
{
public:
    virtual bool ResumeChannel(std::uint32_t channel) = 0; // 9
    virtual bool PauseChannel(std::uint32_t channel) = 0;  // 10
};

class IIPVideoCaptureEx2 : public IIPVideoCaptureEx
{
public:
    virtual bool StartStream(std::uint32_t channel, std::uint32_t streamKind, IIPFrameSink* sink,
                             IIPChannelParams* params) = 0;                       // 11
    virtual bool StopStream(std::uint32_t channel, std::uint32_t streamKind) = 0; // 12
};
}
