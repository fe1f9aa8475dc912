// The driver's services that every worker object reaches it through, and its channel factory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <brantel/media.h>

#include "core/device_info.h"
#include "runtime/debug_message.h"

namespace kestrav
{
class ICameraChannel;
class IMotionChannel;

// Value of GetParamInt for a missing parameter or one that is not a number.
constexpr std::int32_t kMissingParamInt = static_cast<std::int32_t>(0x80000000u);

class IDriver : public IDebugMessage
{
public:
    virtual std::string GetDriverName() = 0;
    // The host executable's directory, with a trailing separator.
    virtual std::string GetHostDirectory() = 0;
    virtual const DEVICE_INFO* GetDeviceInfo() = 0;
    // Digital input count, then digital output count.
    virtual std::pair<std::uint32_t, std::uint32_t> GetIOCounts() = 0;
    virtual ipcapture::IIPMediaAllocator* GetMediaAllocator() = 0;
    // 0 stands for 25 frames per second, any other value for 30.
    virtual std::int32_t GetVideoStandard() = 0;
    virtual std::int32_t GetDefaultCodec() = 0;
    virtual std::uint32_t GetChannelCount() = 0;
    // Empty when missing or "(none)".
    virtual std::string GetParamString(std::int32_t index) = 0;
    // kMissingParamInt when missing or not a decimal number.
    virtual std::int32_t GetParamInt(std::int32_t index) = 0;
};

// Codec codes of the channel factory.
constexpr std::int32_t kCodecDeviceDefault = 0;
constexpr std::int32_t kCodecJpeg = 1;
constexpr std::int32_t kCodecH264 = 3;
constexpr std::int32_t kCodecDeviceDefaultAlt = 5;

class IVideoChannelCreator
{
public:
    virtual ~IVideoChannelCreator() = default;
    // A new channel owned by the caller, or null.
    virtual ICameraChannel* CreateVideoChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                                               std::int32_t codec) = 0;
    virtual IMotionChannel* CreateMotionChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink) = 0;
};
}
