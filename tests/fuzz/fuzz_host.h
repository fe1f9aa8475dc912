// Host objects for the depacketizer fuzzers: buffers that trap on writes past their capacity, an
// allocator that counts what is outstanding and asks the fuzzer about each allocation, and a
// driver that hands out that allocator.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../support/stub_driver.h"
#include "core/driver_services.h"

namespace kestrav::fuzz
{
using Bytes = std::vector<std::uint8_t>;

inline void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class Buffer final : public ipcapture::IIPMediaBuffer
{
public:
    explicit Buffer(std::uint32_t capacity) : data(capacity, 0xCD) {}
    std::uint32_t GetCapacity() const override { return static_cast<std::uint32_t>(data.size()); }
    std::uint8_t* GetData() override { return data.data(); }
    std::uint32_t GetDataSize() const override { return size; }
    void SetDataSize(std::uint32_t bytes) override
    {
        Check(bytes <= data.size());
        size = bytes;
    }
    void MarkBuffer() override { Check(false); }
    void SetTimestamp(const ipcapture::SystemTime* time) override { Check(time != nullptr); }
    bool GetTimestamp(ipcapture::SystemTime*) const override { return false; }
    bool IsMarked() const override { return false; }
    std::uint32_t GetTypeCode() const override { return typeCode; }
    void SetTypeCode(std::uint32_t code) override { typeCode = code; }
    std::uint32_t GetHeight() const override { return height; }
    void SetHeight(std::uint32_t pixels) override { height = pixels; }
    std::uint32_t GetWidth() const override { return width; }
    void SetWidth(std::uint32_t pixels) override { width = pixels; }
    std::uint32_t GetSizeClass() const override { return 0; }
    void SetSizeClass(std::uint32_t) override {}

    Bytes data;
    std::uint32_t size = 0;
    std::uint32_t typeCode = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class Allocator final : public ipcapture::IIPMediaAllocator
{
public:
    // Sees every allocation with its type code; false plays a host without a buffer.
    using Policy = std::function<bool(std::uint32_t typeCode)>;

    explicit Allocator(Policy policy) : m_policy(std::move(policy)) {}
    ~Allocator() override { Check(outstanding == 0); }
    std::uint32_t GetOutstandingCount() const override { return outstanding; }
    ipcapture::IIPMediaBuffer* AllocateBuffer(std::uint32_t typeCode, std::uint32_t capacity,
                                              const char* owner) override
    {
        Check(owner != nullptr && std::string(owner) == "fuzz");
        if (!m_policy(typeCode))
            return nullptr;
        ++outstanding;
        // Like a host's allocator, the buffer starts with the type it was asked for.
        auto* buffer = new Buffer(capacity);
        buffer->typeCode = typeCode;
        return buffer;
    }
    void ReservedSlot3() override { Check(false); }
    void ReservedSlot4() override { Check(false); }
    void ReservedSlot5() override { Check(false); }
    void ReleaseBuffer(ipcapture::IIPMediaBuffer* buffer) override
    {
        Check(buffer != nullptr && outstanding > 0);
        --outstanding;
        delete static_cast<Buffer*>(buffer);
    }

    std::uint32_t outstanding = 0;

private:
    Policy m_policy;
};

class Driver final : public testing::StubDriver
{
public:
    explicit Driver(Allocator::Policy policy) : StubDriver(&allocator), allocator(std::move(policy)) {}

    Allocator allocator;
};

// The RTP datagram of a fuzzer chunk: version 2, the given flags and sequence number, a fixed
// timestamp and source.
inline Bytes MakeDatagram(bool marker, bool padding, std::uint8_t payloadType, std::uint16_t sequence,
                          std::uint32_t timestamp, const Bytes& payload)
{
    Bytes datagram = {static_cast<std::uint8_t>(0x80 | (padding ? 0x20 : 0)),
                      static_cast<std::uint8_t>((marker ? 0x80 : 0) | payloadType),
                      static_cast<std::uint8_t>(sequence >> 8),
                      static_cast<std::uint8_t>(sequence),
                      static_cast<std::uint8_t>(timestamp >> 24),
                      static_cast<std::uint8_t>(timestamp >> 16),
                      static_cast<std::uint8_t>(timestamp >> 8),
                      static_cast<std::uint8_t>(timestamp),
                      0x12,
                      0x34,
                      0x56,
                      0x78};
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}
}
