#include "core/media_frame.h"

#include <algorithm>
#include <utility>

namespace kestrav
{
std::uint32_t ImageSizeClass(std::uint32_t width, std::uint32_t height)
{
    if (width < 200)
        return 1;
    if (width < 400)
        return 2;
    if (width < 1024)
        return width > 2 * height ? 3 : 4;
    return 4;
}

CMediaFrame CMediaFrame::Allocate(ipcapture::IIPMediaAllocator* allocator, std::uint32_t typeCode,
                                  std::uint32_t capacity, const char* ownerName)
{
    if (allocator == nullptr)
        return {};
    ipcapture::IIPMediaBuffer* buffer = allocator->AllocateBuffer(typeCode, capacity, ownerName);
    if (buffer == nullptr)
        return {};
    std::uint8_t* data = buffer->GetData();
    if (data == nullptr)
    {
        allocator->ReleaseBuffer(buffer);
        return {};
    }
    return CMediaFrame(allocator, buffer, std::span<std::uint8_t>(data, capacity));
}

CMediaFrame::CMediaFrame(ipcapture::IIPMediaAllocator* allocator, ipcapture::IIPMediaBuffer* buffer,
                         std::span<std::uint8_t> data)
    : m_allocator(allocator), m_buffer(buffer), m_data(data)
{
}

CMediaFrame::CMediaFrame(CMediaFrame&& other) noexcept
    : m_allocator(std::exchange(other.m_allocator, nullptr)), m_buffer(std::exchange(other.m_buffer, nullptr)),
      m_data(std::exchange(other.m_data, {}))
{
}

CMediaFrame& CMediaFrame::operator=(CMediaFrame&& other) noexcept
{
    if (this != &other)
    {
        Release();
        m_allocator = std::exchange(other.m_allocator, nullptr);
        m_buffer = std::exchange(other.m_buffer, nullptr);
        m_data = std::exchange(other.m_data, {});
    }
    return *this;
}

CMediaFrame::~CMediaFrame()
{
    Release();
}

void CMediaFrame::Describe(const FrameDescription& description)
{
    if (m_buffer == nullptr)
        return;
    m_buffer->SetWidth(description.width);
    m_buffer->SetHeight(description.height);
    m_buffer->SetSizeClass(ImageSizeClass(description.width, description.height));
    m_buffer->SetDataSize(std::min<std::uint32_t>(description.dataSize, static_cast<std::uint32_t>(m_data.size())));
    if (description.typeCode)
        m_buffer->SetTypeCode(*description.typeCode);
    m_buffer->SetTimestamp(&description.timestamp);
}

void CMediaFrame::Mark()
{
    if (m_buffer != nullptr)
        m_buffer->MarkBuffer();
}

bool CMediaFrame::Deliver(const std::function<bool(ipcapture::IIPMediaBuffer*)>& receiver)
{
    if (m_buffer == nullptr)
        return false;
    // Should the receiver throw, the destructor still releases the buffer.
    const bool accepted = receiver && receiver(m_buffer);
    Release();
    return accepted;
}

void CMediaFrame::Release() noexcept
{
    if (m_buffer == nullptr)
        return;
    ipcapture::IIPMediaBuffer* buffer = std::exchange(m_buffer, nullptr);
    m_data = {};
    m_allocator->ReleaseBuffer(buffer);
}
}
