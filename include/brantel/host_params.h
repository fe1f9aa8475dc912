// The host's device parameter objects and debug sink, read by the driver's Open.
#pragma once

#include <cstdint>

class CDebugInfoIf;

namespace kestrav::ipcapture
{
// Slots marked "host's" belong to the host; the module never calls them.
class IIPDeviceModel
{
public:
    virtual ~IIPDeviceModel() = default;
    virtual void ReservedSlot1() = 0;                 // 1 (host's)
    virtual const char* GetModelName() = 0;           // 2
    virtual std::uint32_t GetVideoChannelCount() = 0; // 3
    virtual void ReservedSlot4() = 0;                 // 4 (host's)
    virtual std::uint32_t GetInputCount() = 0;        // 5
    virtual std::uint32_t GetOutputCount() = 0;       // 6
};

class IIPConnectionParams
{
public:
    virtual ~IIPConnectionParams() = default;
    virtual const char* GetAddress() = 0;       // 1
    virtual std::uint16_t GetPort() = 0;        // 2
    virtual void ReservedSlot3() = 0;           // 3 (host's)
    virtual std::int32_t GetDefaultCodec() = 0; // 4
    virtual const char* GetUserName() = 0;      // 5
    virtual const char* GetPassword() = 0;      // 6
};

class IIPDeviceParams
{
public:
    virtual ~IIPDeviceParams() = default;
    virtual IIPDeviceModel* GetDeviceModel() = 0;           // 1
    virtual IIPConnectionParams* GetConnectionParams() = 0; // 2
    virtual void ReservedSlot3() = 0;                       // 3 (host's)
    // Extra parameter `index` (from 1), or null when the host has none under it.
    virtual const char* GetExtraParam(std::int32_t index) = 0; // 4
};

class IIPDebugOutput
{
public:
    virtual ~IIPDebugOutput() = default;
    // `info` is valid only during the call.
    virtual void WriteDebugInfo(const CDebugInfoIf* info) = 0; // 1
};
}
