// The camera family's driver: its name, time-outs, IO object, PTZ handler and channels.
#pragma once

#include "driver/ip_capture_driver.h"

namespace kestrav
{
constexpr const char* kModuleName = "BrantelIPCapture";

class CVaronIPCaptureDriver : public CIPCaptureDriver
{
public:
    CVaronIPCaptureDriver() = default;
    ~CVaronIPCaptureDriver() override;

    bool Open(ipcapture::IIPDebugOutput* debugSink, ipcapture::IIPMediaAllocator* allocator,
              ipcapture::IIPDeviceParams* deviceParams) override;
    bool CreateCaptureIO() override;
    bool CreatePTZHandler() override;

    std::string GetDriverName() override { return kModuleName; }

    ICameraChannel* CreateVideoChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink,
                                       std::int32_t codec) override;
    IMotionChannel* CreateMotionChannel(std::uint32_t channel, ipcapture::IIPFrameSink* sink) override;

    // The camera's own time-outs, longer than the defaults: its CGI answers slowly.
    static constexpr std::uint32_t kDeviceTimeoutMs = 30000;
};

// The codec a channel request resolves to: 0 and 5 mean the device default.
std::int32_t ResolveChannelCodec(std::int32_t requested, std::int32_t deviceDefault);
}
