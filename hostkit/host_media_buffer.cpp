#include "hostkit/host_media_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kestrav::hostkit
{
std::string TypeCodeText(std::uint32_t typeCode)
{
    std::string text(4, '?');
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto byte = static_cast<char>((typeCode >> (8 * i)) & 0xFF);
        if (byte >= 0x20 && byte < 0x7F)
        {
            text[i] = byte;
        }
    }
    return text;
}

std::unique_ptr<HostMediaBuffer> HostMediaBuffer::Create(std::uint64_t serial, std::uint32_t typeCode,
                                                         std::uint32_t capacity, std::string ownerName,
                                                         std::shared_ptr<MisuseMonitor> misuse)
{
    const std::size_t total = std::size_t{capacity} + kGuardBytes;
    std::unique_ptr<std::uint8_t[]> storage(new (std::nothrow) std::uint8_t[total]);
    if (!storage)
    {
        return nullptr;
    }
    std::memset(storage.get(), kUnwrittenByte, capacity);
    std::memset(storage.get() + capacity, kGuardByte, kGuardBytes);
    return std::unique_ptr<HostMediaBuffer>(new (std::nothrow) HostMediaBuffer(
        serial, typeCode, capacity, std::move(ownerName), std::move(storage), std::move(misuse)));
}

HostMediaBuffer::HostMediaBuffer(std::uint64_t serial, std::uint32_t typeCode, std::uint32_t capacity,
                                 std::string ownerName, std::unique_ptr<std::uint8_t[]> storage,
                                 std::shared_ptr<MisuseMonitor> misuse)
    : serial_(serial), allocatedTypeCode_(typeCode), capacity_(capacity), ownerName_(std::move(ownerName)),
      misuse_(std::move(misuse)), storage_(std::move(storage)), typeCode_(typeCode)
{
}

std::string HostMediaBuffer::Describe() const
{
    return "buffer #" + std::to_string(serial_) + " (" + TypeCodeText(allocatedTypeCode_) + ", " +
           std::to_string(capacity_) + " bytes, owner '" + ownerName_ + "')";
}

bool HostMediaBuffer::Usable(const char* slot) const
{
    if (!released_.load())
    {
        return true;
    }
    misuse_->Report(std::string("IIPMediaBuffer::") + slot + " called on " + Describe() + " after its release");
    return false;
}

bool HostMediaBuffer::CheckGuard()
{
    if (!storage_)
    {
        return true;
    }
    const std::uint8_t* guard = storage_.get() + capacity_;
    const bool intact = std::all_of(guard, guard + kGuardBytes, [](std::uint8_t byte) { return byte == kGuardByte; });
    if (!intact && !guardReported_)
    {
        guardReported_ = true;
        misuse_->Report("the module wrote past the capacity of " + Describe());
    }
    return intact;
}

void HostMediaBuffer::Release()
{
    CheckGuard();
    released_.store(true);
    storage_.reset();
}

std::uint32_t HostMediaBuffer::GetCapacity() const
{
    Usable("GetCapacity");
    return capacity_;
}

std::uint8_t* HostMediaBuffer::GetData()
{
    return Usable("GetData") ? storage_.get() : nullptr;
}

std::uint32_t HostMediaBuffer::GetDataSize() const
{
    Usable("GetDataSize");
    return dataSize_;
}

void HostMediaBuffer::SetDataSize(std::uint32_t bytes)
{
    if (!Usable("SetDataSize"))
    {
        return;
    }
    if (bytes > capacity_)
    {
        misuse_->Report("IIPMediaBuffer::SetDataSize(" + std::to_string(bytes) + ") beyond the capacity of " +
                        Describe());
    }
    // Clamped so that a host reading the data never reads past the storage.
    dataSize_ = std::min(bytes, capacity_);
}

void HostMediaBuffer::MarkBuffer()
{
    if (Usable("MarkBuffer"))
    {
        marked_ = true;
    }
}

void HostMediaBuffer::SetTimestamp(const ipcapture::SystemTime* utcTime)
{
    if (!Usable("SetTimestamp"))
    {
        return;
    }
    if (utcTime == nullptr)
    {
        misuse_->Report("IIPMediaBuffer::SetTimestamp called with a null time on " + Describe());
        return;
    }
    timestamp_ = *utcTime;
    hasTimestamp_ = true;
}

bool HostMediaBuffer::GetTimestamp(ipcapture::SystemTime* utcTime) const
{
    Usable("GetTimestamp");
    if (!hasTimestamp_ || utcTime == nullptr)
    {
        return false;
    }
    *utcTime = timestamp_;
    return true;
}

bool HostMediaBuffer::IsMarked() const
{
    Usable("IsMarked");
    return marked_;
}

std::uint32_t HostMediaBuffer::GetTypeCode() const
{
    Usable("GetTypeCode");
    return typeCode_;
}

void HostMediaBuffer::SetTypeCode(std::uint32_t typeCode)
{
    if (Usable("SetTypeCode"))
    {
        typeCode_ = typeCode;
    }
}

std::uint32_t HostMediaBuffer::GetHeight() const
{
    Usable("GetHeight");
    return height_;
}

void HostMediaBuffer::SetHeight(std::uint32_t pixels)
{
    if (Usable("SetHeight"))
    {
        height_ = pixels;
    }
}

std::uint32_t HostMediaBuffer::GetWidth() const
{
    Usable("GetWidth");
    return width_;
}

void HostMediaBuffer::SetWidth(std::uint32_t pixels)
{
    if (Usable("SetWidth"))
    {
        width_ = pixels;
    }
}

std::uint32_t HostMediaBuffer::GetSizeClass() const
{
    Usable("GetSizeClass");
    return sizeClass_;
}

void HostMediaBuffer::SetSizeClass(std::uint32_t sizeClass)
{
    if (Usable("SetSizeClass"))
    {
        sizeClass_ = sizeClass;
    }
}
}
