// The family's driver with time-outs a test can shorten: its 30 s request and signal time-outs
// would make tests of reconnects and signal loss sleep.
#pragma once

#include <cstdint>
#include <string>

#include "driver/varon_capture_driver.h"

namespace kestrav::testing
{
class ShortTimeoutDriver : public CVaronIPCaptureDriver
{
public:
    // Call after Open, which sets the family's time-outs.
    void SetTimeouts(std::uint32_t requestMs, std::uint32_t signalMs)
    {
        DeviceInfo().requestTimeoutMs = requestMs;
        DeviceInfo().signalTimeoutMs = signalMs;
    }
    // As if the device's name resolved differently from now on.
    void SetAddress(const std::string& address) { DeviceInfo().address = address; }
};
}
