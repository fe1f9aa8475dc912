// The driver object the host receives from the exports: one device, every interface version.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <brantel/capture_driver.h>
#include <brantel/capture_io.h>
#include <brantel/ptz_driver.h>

#include "core/device_info.h"
#include "core/driver_services.h"
#include "driver/video_capture.h"
#include "platform/process.h"
#include "runtime/printf_format.h"

namespace kestrav
{
class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx5, public IDriver, public IVideoChannelCreator
{
public:
    CIPCaptureDriver();
    ~CIPCaptureDriver() override;

    // IIPCaptureDriver … IIPCaptureDriverEx5
    bool Open(ipcapture::IIPDebugOutput* debugSink, ipcapture::IIPMediaAllocator* allocator,
              ipcapture::IIPDeviceParams* deviceParams) override;
    void Close() override;
    ipcapture::IIPVideoCapture* GetVideoCapture() override;
    ICaptureIOApi* GetCaptureIO() override;
    void* GetOptionalInterface5() override { return nullptr; }
    IIPPTZDriver* GetPTZDriver() override;
    void* GetOptionalInterface7() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx* GetVideoCaptureEx() override;
    IIPPTZDriverEx* GetPTZDriverEx() override;
    void* GetOptionalInterface10() override { return nullptr; }
    void* GetOptionalInterface11() override { return nullptr; }
    ipcapture::IIPVideoCaptureEx2* GetVideoCaptureEx2() override;
    virtual bool CreateCaptureIO() = 0;
    virtual bool CreatePTZHandler() = 0;
    virtual void LogDriverOpened(const std::string& firmware);

    // IDriver
    std::string GetDeviceAddress() override;
    void SendDebugMessage(unsigned level, const char* format, ...) override KESTRAV_PRINTF_FORMAT(3, 4);
    std::string GetHostDirectory() override { return m_hostDirectory; }
    const DEVICE_INFO* GetDeviceInfo() override { return &m_deviceInfo; }
    std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override { return {m_inputCount, m_outputCount}; }
    ipcapture::IIPMediaAllocator* GetMediaAllocator() override { return m_allocator; }
    std::int32_t GetVideoStandard() override { return m_videoStandard; }
    std::int32_t GetDefaultCodec() override { return m_defaultCodec; }
    std::uint32_t GetChannelCount() override { return m_channelCount; }
    std::string GetParamString(std::int32_t index) override;
    std::int32_t GetParamInt(std::int32_t index) override;

    const platform::FileVersion& GetHostCoreVersion() const { return m_hostCoreVersion; }

protected:
    // The family part's own steps after a successful Open.
    DEVICE_INFO& DeviceInfo() { return m_deviceInfo; }
    void SetVideoStandard(std::int32_t standard) { m_videoStandard = standard; }

    ipcapture::IIPDebugOutput* m_debugSink = nullptr;
    ipcapture::IIPMediaAllocator* m_allocator = nullptr;
    std::map<std::int32_t, std::string> m_extraParams;
    platform::FileVersion m_hostCoreVersion;
    std::string m_hostDirectory;
    DEVICE_INFO m_deviceInfo;
    std::uint32_t m_inputCount = 0;
    std::uint32_t m_outputCount = 0;
    std::uint32_t m_channelCount = 0;
    std::int32_t m_defaultCodec = 0;
    std::int32_t m_videoStandard = 0;
    std::unique_ptr<ICaptureIOApi> m_captureIO;
    std::unique_ptr<CIPVideoCapture> m_videoCapture;
    std::unique_ptr<IIPPTZDriverEx> m_ptzHandler;

private:
    bool ReadDeviceParams(ipcapture::IIPDeviceParams* deviceParams);
    unsigned TranslateLevel(unsigned level) const;
};
}
