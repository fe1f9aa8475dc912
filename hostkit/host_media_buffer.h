// The frame record the host's allocator hands to the module.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <brantel/media.h>

#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// "H264" for 0x34363248; unprintable bytes as '?'.
std::string TypeCodeText(std::uint32_t typeCode);

// Storage of `capacity` bytes followed by guard bytes that reveal a write past the end.
// A buffer is filled by one module thread at a time; the allocator's lock orders the
// hand-over between allocation, delivery and release. After release the object stays
// alive in the allocator's graveyard with its storage freed, so a late call is reported
// instead of touching freed memory.
class HostMediaBuffer final : public ipcapture::IIPMediaBuffer
{
public:
    static constexpr std::size_t kGuardBytes = 32;
    static constexpr std::uint8_t kGuardByte = 0xFD;
    // Fresh storage holds this pattern, so data the module never wrote stands out.
    static constexpr std::uint8_t kUnwrittenByte = 0xCD;

    // Null when the storage cannot be allocated.
    static std::unique_ptr<HostMediaBuffer> Create(std::uint64_t serial, std::uint32_t typeCode, std::uint32_t capacity,
                                                   std::string ownerName, std::shared_ptr<MisuseMonitor> misuse);
    HostMediaBuffer(const HostMediaBuffer&) = delete;
    HostMediaBuffer& operator=(const HostMediaBuffer&) = delete;

    std::uint32_t GetCapacity() const override;
    // Null after release.
    std::uint8_t* GetData() override;
    std::uint32_t GetDataSize() const override;
    // A size beyond the capacity is a misuse and is clamped to the capacity.
    void SetDataSize(std::uint32_t bytes) override;
    void MarkBuffer() override;
    void SetTimestamp(const ipcapture::SystemTime* utcTime) override;
    bool GetTimestamp(ipcapture::SystemTime* utcTime) const override;
    bool IsMarked() const override;
    std::uint32_t GetTypeCode() const override;
    void SetTypeCode(std::uint32_t typeCode) override;
    std::uint32_t GetHeight() const override;
    void SetHeight(std::uint32_t pixels) override;
    std::uint32_t GetWidth() const override;
    void SetWidth(std::uint32_t pixels) override;
    std::uint32_t GetSizeClass() const override;
    void SetSizeClass(std::uint32_t sizeClass) override;

    // What the host knows of the buffer without going through the module's slots.
    std::uint64_t Serial() const { return serial_; }
    const std::string& OwnerName() const { return ownerName_; }
    std::uint32_t AllocatedTypeCode() const { return allocatedTypeCode_; }
    bool IsReleased() const { return released_.load(); }
    // "buffer #7 (H264, 1024 bytes, owner 'main')", for misuse reports.
    std::string Describe() const;

    // False, reported once, when the module wrote past the capacity.
    bool CheckGuard();

private:
    friend class HostMediaAllocator;

    HostMediaBuffer(std::uint64_t serial, std::uint32_t typeCode, std::uint32_t capacity, std::string ownerName,
                    std::unique_ptr<std::uint8_t[]> storage, std::shared_ptr<MisuseMonitor> misuse);
    // The allocator's side of release: reports a write past the end and frees the storage.
    void Release();
    // False, with a report, once the buffer is released.
    bool Usable(const char* slot) const;

    const std::uint64_t serial_;
    const std::uint32_t allocatedTypeCode_;
    const std::uint32_t capacity_;
    const std::string ownerName_;
    const std::shared_ptr<MisuseMonitor> misuse_;
    std::unique_ptr<std::uint8_t[]> storage_;
    std::atomic<bool> released_{false};
    bool guardReported_ = false;

    std::uint32_t dataSize_ = 0;
    std::uint32_t typeCode_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t sizeClass_ = 0;
    bool marked_ = false;
    bool hasTimestamp_ = false;
    ipcapture::SystemTime timestamp_;
};
}
