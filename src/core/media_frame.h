// The frame delivery contract shared by every producer of host buffers: allocate, fill,
// describe, deliver, and always release.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include <brantel/media.h>

namespace kestrav
{
// 1 below 200 pixels wide, 2 below 400, then 3 for wide pictures and 4 for the rest.
std::uint32_t ImageSizeClass(std::uint32_t width, std::uint32_t height);

struct FrameDescription
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t dataSize = 0;
    // Set on the buffer only when present: a JPEG buffer keeps its allocation code.
    std::optional<std::uint32_t> typeCode;
    ipcapture::SystemTime timestamp;
};

// One host buffer from allocation to release; released on every path, delivered or not.
class CMediaFrame
{
public:
    // Empty when there is no allocator or the host has no buffer.
    static CMediaFrame Allocate(ipcapture::IIPMediaAllocator* allocator, std::uint32_t typeCode, std::uint32_t capacity,
                                const char* ownerName);

    CMediaFrame() = default;
    CMediaFrame(CMediaFrame&& other) noexcept;
    CMediaFrame& operator=(CMediaFrame&& other) noexcept;
    CMediaFrame(const CMediaFrame&) = delete;
    CMediaFrame& operator=(const CMediaFrame&) = delete;
    ~CMediaFrame();

    explicit operator bool() const { return m_buffer != nullptr; }
    // The writable storage: exactly the capacity asked for.
    std::span<std::uint8_t> Data() const { return m_data; }

    // Sets width, height, size class, data size (at most the capacity), the type code
    // when given, and the timestamp.
    void Describe(const FrameDescription& description);
    void Mark();

    // Hands the buffer to `receiver` and releases it afterwards, accepted or not.
    bool Deliver(const std::function<bool(ipcapture::IIPMediaBuffer*)>& receiver);

private:
    CMediaFrame(ipcapture::IIPMediaAllocator* allocator, ipcapture::IIPMediaBuffer* buffer,
                std::span<std::uint8_t> data);
    void Release() noexcept;

    ipcapture::IIPMediaAllocator* m_allocator = nullptr;
    ipcapture::IIPMediaBuffer* m_buffer = nullptr;
    std::span<std::uint8_t> m_data;
};
}
