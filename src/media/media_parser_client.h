// What a depacketizer needs of the channel it belongs to.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <brantel/media.h>

namespace kestrav
{
class IMediaParserClient
{
public:
    virtual ~IMediaParserClient() = default;
    // A whole frame in a host buffer; the caller releases the buffer after this returns, so
    // the client must not keep it. False when the frame was not taken.
    virtual bool OnFrame(ipcapture::IIPMediaBuffer* frame) = 0;
    // The width and height the host asked for; the depacketizers of this family do not use it.
    virtual std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() = 0;
    // The owner name under which frame buffers are allocated.
    virtual std::string GetStreamName() = 0;
    // The capture time (UTC) of the frame with this RTP timestamp.
    virtual void ConvertTimeStamp(std::uint32_t rtpTimestamp, ipcapture::SystemTime& time) = 0;
};
}
