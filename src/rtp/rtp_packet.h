// One RTP packet (RFC 3550): fixed header, CSRC list, header extension and payload, parsed
// from a datagram or an interleaved frame.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrav
{
class CRTPPacket
{
public:
    CRTPPacket() = default;
    virtual ~CRTPPacket() = default;
    // Consumers receive a packet by reference for the length of a call; they never keep a copy.
    CRTPPacket(const CRTPPacket&) = delete;
    CRTPPacket& operator=(const CRTPPacket&) = delete;
    CRTPPacket(CRTPPacket&&) = default;
    CRTPPacket& operator=(CRTPPacket&&) = default;

    // Clears the packet first; it holds the parsed packet only when this returns true. A
    // packet needs at least one payload byte. The buffers keep their capacity, so that a reused
    // packet parses without allocating. May throw std::bad_alloc.
    bool Parse(std::span<const std::uint8_t> bytes);
    // Every field 0, no buffers.
    void Reset();

    std::uint8_t GetCSRCCount() const { return m_csrcCount; }
    // Count × 4 bytes as received.
    std::span<const std::uint8_t> GetCSRCList() const { return m_csrcList; }
    // Network byte order, as received.
    std::uint32_t GetSSRC() const { return m_ssrc; }
    bool GetMarker() const { return m_marker != 0; }
    // Padding bytes stay in the payload.
    bool GetPadding() const { return m_padding != 0; }
    std::uint8_t GetPayloadType() const { return m_payloadType; }
    std::uint16_t GetSequenceNumber() const { return m_sequenceNumber; }
    std::uint32_t GetTimestamp() const { return m_timestamp; }
    // In 32-bit words.
    std::uint16_t GetExtensionLength() const { return m_extensionLength; }
    // Network byte order, as received.
    std::uint16_t GetExtensionProfile() const { return m_extensionProfile; }
    std::span<const std::uint8_t> GetExtensionData() const { return m_extensionData; }
    std::uint32_t GetPayloadLength() const { return static_cast<std::uint32_t>(m_payload.size()); }
    std::span<const std::uint8_t> GetPayload() const { return m_payload; }

private:
    // Every field 0; the buffers are emptied but kept.
    void Clear();

    std::uint8_t m_csrcCount = 0;
    std::vector<std::uint8_t> m_csrcList;
    std::uint32_t m_ssrc = 0;
    std::uint8_t m_marker = 0;
    std::uint8_t m_padding = 0;
    std::uint8_t m_payloadType = 0;
    std::uint16_t m_sequenceNumber = 0;
    std::uint32_t m_timestamp = 0;
    std::uint16_t m_extensionLength = 0;
    std::uint16_t m_extensionProfile = 0;
    std::vector<std::uint8_t> m_extensionData;
    std::vector<std::uint8_t> m_payload;
};
}
