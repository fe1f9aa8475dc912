#include "media/rtp_media_parser.h"

#include "core/driver_services.h"
#include "rtp/rtp_packet.h"

namespace kestrav
{
CRTPMediaParser::CRTPMediaParser(IDriver* driver) : m_driver(driver) {}

void CRTPMediaParser::SetParameterSets(const ParameterSets& sets)
{
    m_parameterSets = sets;
}

std::size_t CRTPMediaParser::GetBufferCapacity(std::size_t size)
{
    for (const std::size_t capacity : {std::size_t{4096}, std::size_t{16384}, std::size_t{32768}, std::size_t{131072}})
    {
        if (size <= capacity)
            return capacity;
    }
    return size;
}

bool CRTPMediaParser::CheckSequence(const CRTPPacket& packet)
{
    const std::uint16_t sequenceNumber = packet.GetSequenceNumber();
    const bool follows = m_firstPacket || sequenceNumber == static_cast<std::uint16_t>(m_lastSequenceNumber + 1);
    m_firstPacket = false;
    m_lastSequenceNumber = sequenceNumber;
    return follows;
}

bool CRTPMediaParser::CheckBufferSize()
{
    if (m_frame.size() <= kFrameBufferLimit)
        return true;
    const DEVICE_INFO* device = m_driver->GetDeviceInfo();
    m_driver->SendDebugMessage(kLogError, "%s: Frame buffer overflow detected, device %s:%u",
                               "kestrav::CRTPMediaParser::CheckBufferSize", device ? device->address.c_str() : "",
                               device ? unsigned{device->port} : 0u);
    return false;
}

std::optional<std::span<const std::uint8_t>> CRTPMediaParser::GetMediaPayload(const CRTPPacket& packet)
{
    const std::span<const std::uint8_t> payload = packet.GetPayload();
    if (!packet.GetPadding())
        return payload;
    // RFC 3550 5.1: the last byte counts the padding, itself included.
    if (payload.empty() || payload.back() == 0 || payload.back() > payload.size())
        return std::nullopt;
    return payload.first(payload.size() - payload.back());
}
}
