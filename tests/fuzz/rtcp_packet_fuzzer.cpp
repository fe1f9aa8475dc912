// ParseRTCPCompound on any datagram (anyone who can reach the RTCP port can send one). The walk
// reads only from the front: bytes appended behind a datagram never change what was read from
// it, and a receiver report in front of it adds exactly one packet.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "rtp/rtcp_packets.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool SameSenderReport(const std::optional<kestrav::RTCPSenderReport>& a,
                      const std::optional<kestrav::RTCPSenderReport>& b)
{
    if (!a || !b)
        return !a && !b;
    return a->senderSSRC == b->senderSSRC && a->ntpMiddle == b->ntpMiddle;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    const std::optional<kestrav::RTCPCompound> compound = kestrav::ParseRTCPCompound(input);
    if (compound)
    {
        Check(size >= 4 && input[0] >> 6 == 2);
        Check(compound->packetCount >= 1 && compound->packetCount <= size / 4);
        if (compound->senderReport)
            Check(size >= 28);
    }

    // Our own receiver report, with fields taken from the input, in front of it.
    kestrav::RTCPReceiverReport fields;
    if (size >= 4)
        fields.ownSSRC = static_cast<std::uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
    const auto report = kestrav::BuildReceiverReport(fields);
    std::vector<std::uint8_t> prefixed(report.begin(), report.end());
    prefixed.insert(prefixed.end(), input.begin(), input.end());
    const std::optional<kestrav::RTCPCompound> behindReport = kestrav::ParseRTCPCompound(prefixed);
    Check(behindReport.has_value());
    Check(behindReport->packetCount == 1 + (compound ? compound->packetCount : 0));
    Check(SameSenderReport(behindReport->senderReport, compound ? compound->senderReport : std::nullopt));

    // The input again with a sender report behind it: what was read stays.
    if (compound)
    {
        std::vector<std::uint8_t> extended(input.begin(), input.end());
        extended.insert(extended.end(), {0x80, 200, 0x00, 0x06});
        extended.resize(extended.size() + 24, 0x5A);
        const std::optional<kestrav::RTCPCompound> longer = kestrav::ParseRTCPCompound(extended);
        Check(longer && longer->packetCount >= compound->packetCount);
        if (compound->senderReport)
            Check(SameSenderReport(longer->senderReport, compound->senderReport));
    }
    return 0;
}
