#include "rtp/rtp_packet.h"

#include <cstddef>
#include <cstring>

namespace kestrav
{
namespace
{
constexpr std::size_t kFixedHeaderLength = 12;
constexpr std::size_t kExtensionHeaderLength = 4;
constexpr std::uint8_t kVersion = 2;

std::uint16_t ReadBigEndian16(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

template <typename Value> Value ReadAsReceived(std::span<const std::uint8_t> bytes)
{
    Value value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}
}

bool CRTPPacket::Parse(std::span<const std::uint8_t> bytes)
{
    Clear();
    if (bytes.size() <= kFixedHeaderLength)
        return false;
    if (bytes[0] >> 6 != kVersion)
        return false;

    // Every section is measured before anything is copied, so that a failure leaves the
    // packet reset.
    std::span<const std::uint8_t> rest = bytes.subspan(kFixedHeaderLength);
    const std::uint8_t csrcCount = bytes[0] & 0x0F;
    const std::size_t csrcLength = std::size_t{csrcCount} * 4;
    if (csrcCount > 0 && csrcLength >= rest.size())
        return false;
    const std::span<const std::uint8_t> csrcList = rest.first(csrcLength);
    rest = rest.subspan(csrcLength);

    const bool hasExtension = (bytes[0] & 0x10) != 0;
    std::span<const std::uint8_t> extensionHeader;
    std::span<const std::uint8_t> extensionData;
    if (hasExtension)
    {
        if (rest.size() < kExtensionHeaderLength)
            return false;
        extensionHeader = rest.first(kExtensionHeaderLength);
        const std::size_t dataLength = std::size_t{ReadBigEndian16(extensionHeader.subspan(2))} * 4;
        if (dataLength > 0 && kExtensionHeaderLength + dataLength >= rest.size())
            return false;
        extensionData = rest.subspan(kExtensionHeaderLength, dataLength);
        rest = rest.subspan(kExtensionHeaderLength + dataLength);
    }
    if (rest.empty())
        return false;

    m_csrcCount = csrcCount;
    m_csrcList.assign(csrcList.begin(), csrcList.end());
    if (hasExtension)
    {
        m_extensionProfile = ReadAsReceived<std::uint16_t>(extensionHeader);
        m_extensionLength = ReadBigEndian16(extensionHeader.subspan(2));
        m_extensionData.assign(extensionData.begin(), extensionData.end());
    }
    m_marker = bytes[1] >> 7;
    m_payloadType = bytes[1] & 0x7F;
    m_padding = (bytes[0] >> 5) & 0x01;
    m_sequenceNumber = ReadBigEndian16(bytes.subspan(2));
    m_timestamp = ReadBigEndian32(bytes.subspan(4));
    m_ssrc = ReadAsReceived<std::uint32_t>(bytes.subspan(8));
    m_payload.assign(rest.begin(), rest.end());
    return true;
}

void CRTPPacket::Reset()
{
    Clear();
    std::vector<std::uint8_t>().swap(m_csrcList);
    std::vector<std::uint8_t>().swap(m_extensionData);
    std::vector<std::uint8_t>().swap(m_payload);
}

void CRTPPacket::Clear()
{
    m_csrcCount = 0;
    m_csrcList.clear();
    m_ssrc = 0;
    m_marker = 0;
    m_padding = 0;
    m_payloadType = 0;
    m_sequenceNumber = 0;
    m_timestamp = 0;
    m_extensionLength = 0;
    m_extensionProfile = 0;
    m_extensionData.clear();
    m_payload.clear();
}
}
