// The host's parameter objects for one channel start, and its privacy mask source.
#pragma once

#include <cstdint>

namespace kestrav::ipcapture
{
// Slots marked "host's" belong to the host; the module never calls them.
class IIPResolution
{
public:
    virtual ~IIPResolution() = default;
    virtual std::uint16_t GetWidth() = 0;  // 1
    virtual std::uint16_t GetHeight() = 0; // 2
};

class IIPVideoFormat
{
public:
    virtual ~IIPVideoFormat() = default;
    virtual void ReservedSlot1() = 0;           // 1 (host's)
    virtual void ReservedSlot2() = 0;           // 2 (host's)
    virtual IIPResolution* GetResolution() = 0; // 3
    virtual std::int32_t GetCodec() = 0;        // 4: 1 JPEG, 3 H.264, 0 and 5 the device default
};

class IIPRecordingSettings
{
public:
    virtual ~IIPRecordingSettings() = default;
    // 0 means 1 frame per second; with bits 0x7000 all set the low 12 bits are the frame
    // rate; any other value is a frame interval in milliseconds.
    virtual std::uint16_t GetFrameRateCode() = 0;  // 1
    virtual void ReservedSlot2() = 0;              // 2 (host's)
    virtual std::uint16_t GetQuality() = 0;        // 3: percent
    virtual std::int32_t GetMotionDetection() = 0; // 4: non-zero when wanted
};

// One privacy mask; edges and sizes are percentages of the picture.
class IIPPrivacyMask
{
public:
    virtual ~IIPPrivacyMask() = default;
    virtual void ReservedSlot1() = 0; // 1 (host's)
    virtual void ReservedSlot2() = 0; // 2 (host's)
    virtual void ReservedSlot3() = 0; // 3 (host's)
    virtual double GetLeft() = 0;     // 4
    virtual double GetTop() = 0;      // 5
    virtual double GetWidth() = 0;    // 6
    virtual double GetHeight() = 0;   // 7
};

class IIPPrivacyMaskSource
{
public:
    virtual ~IIPPrivacyMaskSource() = default;
    // Mask `index` (0 to 3), or null when there is none.
    virtual IIPPrivacyMask* GetMask(std::int32_t index) = 0; // 1
};

class IIPChannelParams
{
public:
    virtual ~IIPChannelParams() = default;
    virtual IIPVideoFormat* GetVideoFormat() = 0;             // 1
    virtual IIPRecordingSettings* GetRecordingSettings() = 0; // 2
    virtual void ReservedSlot3() = 0;                         // 3 (host's)
    virtual void ReservedSlot4() = 0;                         // 4 (host's)
    virtual IIPPrivacyMaskSource* GetPrivacyMasks() = 0;      // 5
};
}
