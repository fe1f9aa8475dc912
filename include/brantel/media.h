// Host media objects: the allocator, the frame record it hands out and the frame sink.
#pragma once

#include <cstdint>

namespace kestrav::ipcapture
{
// A UTC calendar time, shaped like the Windows SYSTEMTIME the host expects.
struct SystemTime
{
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// Four-character codes; the first character is the lowest byte.
constexpr std::uint32_t kTypeCodeH264 = 0x34363248;   // "H264": access unit carrying the parsed SPS
constexpr std::uint32_t kTypeCodeI264 = 0x34363249;   // "I264": any other access unit
constexpr std::uint32_t kTypeCodeJpeg = 0x4745504A;   // "JPEG"
constexpr std::uint32_t kTypeCodeMotion = 0x444D454D; // "MEMD": motion record

// One frame record. The module calls slots 2, 4, 5, 6, 10, 12, 14 and 16 only; the other
// slots are the host's own accessors.
class IIPMediaBuffer
{
public:
    virtual ~IIPMediaBuffer() = default;
    virtual std::uint32_t GetCapacity() const = 0;            // 1 (host's)
    virtual std::uint8_t* GetData() = 0;                      // 2
    virtual std::uint32_t GetDataSize() const = 0;            // 3 (host's)
    virtual void SetDataSize(std::uint32_t bytes) = 0;        // 4
    virtual void MarkBuffer() = 0;                            // 5
    virtual void SetTimestamp(const SystemTime* utcTime) = 0; // 6
    virtual bool GetTimestamp(SystemTime* utcTime) const = 0; // 7 (host's)
    virtual bool IsMarked() const = 0;                        // 8 (host's)
    virtual std::uint32_t GetTypeCode() const = 0;            // 9 (host's)
    virtual void SetTypeCode(std::uint32_t typeCode) = 0;     // 10
    virtual std::uint32_t GetHeight() const = 0;              // 11 (host's)
    virtual void SetHeight(std::uint32_t pixels) = 0;         // 12
    virtual std::uint32_t GetWidth() const = 0;               // 13 (host's)
    virtual void SetWidth(std::uint32_t pixels) = 0;          // 14
    virtual std::uint32_t GetSizeClass() const = 0;           // 15 (host's)
    virtual void SetSizeClass(std::uint32_t sizeClass) = 0;   // 16
};

// The module calls slots 2 and 6 only.
class IIPMediaAllocator
{
public:
    virtual ~IIPMediaAllocator() = default;
    virtual std::uint32_t GetOutstandingCount() const = 0; // 1 (host's)
    virtual IIPMediaBuffer* AllocateBuffer(std::uint32_t typeCode, std::uint32_t capacity,
                                           const char* ownerName) = 0; // 2
    virtual void ReservedSlot3() = 0;                                  // 3 (host's)
    virtual void ReservedSlot4() = 0;                                  // 4 (host's)
    virtual void ReservedSlot5() = 0;                                  // 5 (host's)
    virtual void ReleaseBuffer(IIPMediaBuffer* buffer) = 0;            // 6
};

// The host's receiver for one channel. The module calls slots 1 and 3 only.
class IIPFrameSink
{
public:
    virtual ~IIPFrameSink() = default;
    // True when the host accepted the frame; the module releases the buffer either way.
    virtual bool DeliverFrame(IIPMediaBuffer* buffer) = 0; // 1
    virtual void ReservedSlot2() = 0;                      // 2 (host's)
    virtual void ReportSignalLost() = 0;                   // 3
};
}
