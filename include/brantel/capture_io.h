// Digital inputs and relay outputs, as the host sees them.
#pragma once

#include <cstdint>

namespace kestrav
{
// The host's callback; IO state values: 0 unknown, 1 inactive, 2 active.
class IIPIOSink
{
public:
    virtual ~IIPIOSink() = default;
    virtual void OnInputStateChanged(std::int32_t index, std::int32_t state) = 0; // 1
    virtual void OnIOStatesReset() = 0;                                           // 2
};

class ICaptureIOApi
{
public:
    virtual ~ICaptureIOApi() = default;
    virtual bool SetIOCallback(IIPIOSink* sink) = 0;                         // 1
    virtual bool StartIO() = 0;                                              // 2
    virtual bool StopIO() = 0;                                               // 3
    virtual std::int32_t GetInputCount() = 0;                                // 4
    virtual std::int32_t GetOutputCount() = 0;                               // 5
    virtual bool SetOutputState(std::int32_t index, std::int32_t state) = 0; // 6
};
}
