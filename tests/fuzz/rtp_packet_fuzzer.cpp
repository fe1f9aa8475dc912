// CRTPPacket::Parse on any datagram (RTP arrives from anyone who can reach the port): a parsed
// packet accounts for every input byte and writes back to the same bytes; a refused one is empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "rtp/rtp_packet.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void Append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

template <typename Value> void AppendAsHeld(std::vector<std::uint8_t>& out, Value value)
{
    std::uint8_t bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    Append(out, bytes);
}

// The datagram the packet was parsed from; whether it had an extension header cannot be
// told from an empty extension, so the caller says.
std::vector<std::uint8_t> Serialize(const kestrav::CRTPPacket& packet, bool extension)
{
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(0x80 | (packet.GetPadding() ? 0x20 : 0) | (extension ? 0x10 : 0) |
                                            packet.GetCSRCCount()));
    out.push_back(static_cast<std::uint8_t>((packet.GetMarker() ? 0x80 : 0) | packet.GetPayloadType()));
    out.push_back(static_cast<std::uint8_t>(packet.GetSequenceNumber() >> 8));
    out.push_back(static_cast<std::uint8_t>(packet.GetSequenceNumber()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(packet.GetTimestamp() >> shift));
    AppendAsHeld(out, packet.GetSSRC());
    Append(out, packet.GetCSRCList());
    if (extension)
    {
        AppendAsHeld(out, packet.GetExtensionProfile());
        out.push_back(static_cast<std::uint8_t>(packet.GetExtensionLength() >> 8));
        out.push_back(static_cast<std::uint8_t>(packet.GetExtensionLength()));
        Append(out, packet.GetExtensionData());
    }
    Append(out, packet.GetPayload());
    return out;
}

bool IsEmpty(const kestrav::CRTPPacket& packet)
{
    return packet.GetCSRCCount() == 0 && packet.GetCSRCList().empty() && packet.GetSSRC() == 0 && !packet.GetMarker() &&
           !packet.GetPadding() && packet.GetPayloadType() == 0 && packet.GetSequenceNumber() == 0 &&
           packet.GetTimestamp() == 0 && packet.GetExtensionLength() == 0 && packet.GetExtensionProfile() == 0 &&
           packet.GetExtensionData().empty() && packet.GetPayloadLength() == 0 && packet.GetPayload().empty();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    kestrav::CRTPPacket packet;
    const bool parsed = packet.Parse(input);
    if (!parsed)
    {
        Check(IsEmpty(packet));
        return 0;
    }

    const bool extension = (input[0] & 0x10) != 0;
    Check(input[0] >> 6 == 2);
    Check(packet.GetCSRCCount() <= 15);
    Check(packet.GetCSRCList().size() == std::size_t{packet.GetCSRCCount()} * 4);
    Check(packet.GetExtensionData().size() == std::size_t{packet.GetExtensionLength()} * 4);
    Check(extension || packet.GetExtensionLength() == 0);
    Check(packet.GetPayloadLength() >= 1 && packet.GetPayloadLength() == packet.GetPayload().size());
    const std::size_t accounted = 12 + packet.GetCSRCList().size() + (extension ? 4 : 0) +
                                  packet.GetExtensionData().size() + packet.GetPayload().size();
    Check(accounted == size);
    Check(std::ranges::equal(packet.GetPayload(), input.last(packet.GetPayloadLength())));

    const std::vector<std::uint8_t> written = Serialize(packet, extension);
    Check(std::ranges::equal(written, input));

    // One byte less takes one payload byte, or leaves no payload and is refused; either way the
    // packet holds nothing of the longer datagram.
    const std::uint32_t payloadLength = packet.GetPayloadLength();
    const bool shorter = packet.Parse(input.first(size - 1));
    Check(shorter == (payloadLength > 1));
    Check(shorter ? packet.GetPayloadLength() == payloadLength - 1 : IsEmpty(packet));
    return 0;
}
