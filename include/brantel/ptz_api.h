// The PTZ control of one camera channel as the host holds it, and the parameters each command carries.
#pragma once

#include <cstdint>

#include <brantel/ptz_capability_record.h>

namespace kestrav
{
// Results: 1 done (movements: queued), 0 "no" of IsPTZSupported, -3 invalid argument, -18 failed or not
// queued, -19 not supported by the camera, -23 preset not found or its operation failed, -26 no room for
// another preset. Directions: 0 left, 1 right, 2 up, 3 down, 4 to 7 the diagonals, 8 zoom out, 9 zoom in.
class IIPPTZApi
{
public:
    virtual ~IIPPTZApi() = default;
    virtual std::int32_t IsPTZSupported() = 0;                                                             // 1
    virtual std::int32_t Move(std::int32_t direction, std::int32_t speed) = 0;                             // 2
    virtual std::int32_t Stop() = 0;                                                                       // 3
    virtual std::int32_t Center(std::int32_t x, std::int32_t y, std::int32_t speed) = 0;                   // 4
    virtual std::int32_t ZoomMinus(std::int32_t speed) = 0;                                                // 5
    virtual std::int32_t ZoomPlus(std::int32_t speed) = 0;                                                 // 6
    virtual std::int32_t Unzoom(std::int32_t speed) = 0;                                                   // 7
    virtual std::int32_t AreaZoom(std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t speed) = 0; // 8
    virtual std::int32_t FocusMinus(std::int32_t speed) = 0;                                               // 9
    virtual std::int32_t FocusPlus(std::int32_t speed) = 0;                                                // 10
    virtual std::int32_t IrisPlus(std::int32_t speed) = 0;                                                 // 11
    virtual std::int32_t IrisMinus(std::int32_t speed) = 0;                                                // 12
    virtual std::int32_t GetCapabilities(PTZCapabilityRecord* record) = 0;                                 // 13
    virtual std::int32_t GetPresetCount() = 0;                                                             // 14
    // Copies the name with its terminating zero; -3 when it does not fit.
    virtual std::int32_t GetPresetName(std::int32_t index, char* buffer, std::uint32_t size) = 0; // 15
    virtual std::int32_t GotoPreset(std::int32_t value, const char* name) = 0;                    // 16
    virtual std::int32_t SavePreset(const char* name) = 0;                                        // 17
    virtual std::int32_t DeletePreset(const char* name) = 0;                                      // 18
    virtual std::int32_t GetCurrentPreset(char* buffer, std::uint32_t size) = 0;                  // 19
};

class IIPPTZApiEx : public IIPPTZApi
{
public:
    // 1 for feature 1, 0 for any other.
    virtual std::int32_t HasFeature(std::int32_t feature) = 0; // 20
};
}

// What a PTZ command carries of the control that issued it; the two flags start false.
class IIPParams
{
public:
    virtual ~IIPParams() = default;
    virtual std::int32_t GetChannelIndex() = 0; // 1
    virtual bool GetFirstFlag() = 0;            // 2
    virtual void SetFirstFlag(bool on) = 0;     // 3
    virtual bool GetSecondFlag() = 0;           // 4
    virtual void SetSecondFlag(bool on) = 0;    // 5
};
