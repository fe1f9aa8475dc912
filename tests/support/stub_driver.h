// The driver services a depacketizer needs, and nothing else: one channel at 192.0.2.1, no
// parameters, a log that goes nowhere and the allocator it is given. Free of any test framework,
// so that fuzz targets and benchmarks use it too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/driver_services.h"

namespace kestrav::testing
{
class StubDriver : public IDriver
{
public:
    // The allocator is not owned; it may be a member of a derived class not yet constructed.
    explicit StubDriver(ipcapture::IIPMediaAllocator* allocator) : m_allocator(allocator) {}

    std::string GetDeviceAddress() override { return "192.0.2.1:80"; }
    void SendDebugMessage(unsigned, const char*, ...) override {}
    std::string GetDriverName() override { return "BrantelIPCapture"; }
    std::string GetHostDirectory() override { return "/"; }
    const DEVICE_INFO* GetDeviceInfo() override { return &m_device; }
    std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override { return {0, 0}; }
    ipcapture::IIPMediaAllocator* GetMediaAllocator() override { return m_allocator; }
    std::int32_t GetVideoStandard() override { return 0; }
    std::int32_t GetDefaultCodec() override { return kCodecH264; }
    std::uint32_t GetChannelCount() override { return 1; }
    std::string GetParamString(std::int32_t) override { return {}; }
    std::int32_t GetParamInt(std::int32_t) override { return kMissingParamInt; }

private:
    ipcapture::IIPMediaAllocator* m_allocator;
    DEVICE_INFO m_device;
};
}
