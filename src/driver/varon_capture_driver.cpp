#include "driver/varon_capture_driver.h"

#include <new>

#include "channels/h264_channel_rtsp.h"
#include "channels/jpeg_channel_rtsp.h"
#include "io/digital_io.h"
#include "io/varon_motion_channel.h"
#include "platform/http_transport.h"
#include "ptz/varon_ptz_handler.h"

namespace kestrav
{
std::int32_t ResolveChannelCodec(std::int32_t requested, std::int32_t deviceDefault)
{
    return requested == kCodecDeviceDefault || requested == kCodecDeviceDefaultAlt ? deviceDefault : requested;
}

CVaronIPCaptureDriver::~CVaronIPCaptureDriver()
{
    Close();
    // The host may unload the module as soon as this returns: the HTTP stacks' reports of the requests
    // just closed must be in by then.
    if (!platform::WaitForClosedHttpRequests(platform::kHttpClosingWaitMilliseconds))
        SendDebugMessage(kLogWarning, "%s: %u HTTP requests were still closing after %u ms",
                         "kestrav::CVaronIPCaptureDriver::~CVaronIPCaptureDriver",
                         static_cast<unsigned>(platform::OutstandingHttpRequests()),
                         static_cast<unsigned>(platform::kHttpClosingWaitMilliseconds));
}

bool CVaronIPCaptureDriver::Open(ipcapture::IIPDebugOutput* debugSink, ipcapture::IIPMediaAllocator* allocator,
                                 ipcapture::IIPDeviceParams* deviceParams)
{
    if (!CIPCaptureDriver::Open(debugSink, allocator, deviceParams))
        return false;
    DeviceInfo().requestTimeoutMs = kDeviceTimeoutMs;
    DeviceInfo().signalTimeoutMs = kDeviceTimeoutMs;
    const std::int32_t standard = GetParamInt(1);
    if (standard != kMissingParamInt)
        SetVideoStandard(standard);
    LogDriverOpened(GetParamString(2));
    return true;
}

bool CVaronIPCaptureDriver::CreateCaptureIO()
{
    if (m_captureIO == nullptr)
        m_captureIO.reset(new (std::nothrow) CDigitalIO(this));
    return m_captureIO != nullptr;
}

bool CVaronIPCaptureDriver::CreatePTZHandler()
{
    if (m_ptzHandler == nullptr)
        m_ptzHandler.reset(new (std::nothrow) CVaronPTZHandler(this, kModuleName));
    return m_ptzHandler != nullptr;
}

ICameraChannel* CVaronIPCaptureDriver::CreateVideoChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                                                          std::int32_t codec)
{
    if (sink == nullptr)
        return nullptr;
    const std::int32_t resolved = ResolveChannelCodec(codec, GetDefaultCodec());
    if (resolved == kCodecH264)
        return new (std::nothrow) CH264ChannelRTSP(channel, this, sink);
    if (resolved == kCodecJpeg)
        return new (std::nothrow) CJpegChannelRTSP(channel, this, sink);
    return nullptr;
}

IMotionChannel* CVaronIPCaptureDriver::CreateMotionChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink)
{
    if (sink == nullptr)
        return nullptr;
    return new (std::nothrow) CVaronMotionChannel(static_cast<std::int32_t>(channel), this, sink);
}
}
