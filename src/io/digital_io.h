// The camera's alarm inputs and relay outputs.
#pragma once

#include <brantel/capture_io.h>

namespace kestrav
{
class IDriver;

// So far it reports the device's IO counts and keeps the host's callback; switching
// outputs and polling inputs arrive with the camera's IO requests.
class CDigitalIO : public ICaptureIOApi
{
public:
    explicit CDigitalIO(IDriver* driver) : m_driver(driver) {}

    bool SetIOCallback(IIPIOSink* sink) override;
    bool StartIO() override { return false; }
    bool StopIO() override { return false; }
    std::int32_t GetInputCount() override;
    std::int32_t GetOutputCount() override;
    bool SetOutputState(std::int32_t, std::int32_t) override { return false; }

private:
    IDriver* m_driver;
    IIPIOSink* m_sink = nullptr;
};
}
