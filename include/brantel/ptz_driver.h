// The PTZ entry the driver hands to the host.
#pragma once

#include <cstdint>

#include <brantel/ptz_api.h>

namespace kestrav
{
class IIPPTZDriver
{
public:
    virtual ~IIPPTZDriver() = default;
    virtual IIPPTZApi* GetPTZApi(std::uint32_t channel) = 0; // 1
};

class IIPPTZDriverEx : public IIPPTZDriver
{
public:
    // Slot 1 forwards here, so both return the same object.
    virtual IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) = 0; // 2
};
}
