// The RTCP packets (RFC 3550 section 6) of a receiver: the receiver report and the BYE it
// sends, and the sender report it reads out of the camera's datagrams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrav
{
constexpr std::uint8_t kRTCPPacketTypeSenderReport = 200;
constexpr std::uint8_t kRTCPPacketTypeReceiverReport = 201;
constexpr std::uint8_t kRTCPPacketTypeSourceDescription = 202;
constexpr std::uint8_t kRTCPPacketTypeBye = 203;

// A receiver report with one report block.
constexpr std::size_t kRTCPReceiverReportLength = 32;
// A BYE for one source, without a reason.
constexpr std::size_t kRTCPByeLength = 8;

// What a receiver report needs of the camera's last sender report.
struct RTCPSenderReport
{
    std::uint32_t senderSSRC = 0;
    // The middle 32 bits of its 64-bit NTP timestamp, echoed as LSR.
    std::uint32_t ntpMiddle = 0;
};

struct RTCPCompound
{
    // Readable packets, counted from the front.
    std::size_t packetCount = 0;
    // The first sender report among them.
    std::optional<RTCPSenderReport> senderReport;
    // The first source of the first BYE among them: that source has left the session.
    std::optional<std::uint32_t> byeSource;
};

// Walks a compound RTCP datagram packet by packet; nullopt when not even its first packet is
// RTCP (version 2, with a length that fits). The walk ends at the first packet that is not,
// and whatever follows it is ignored.
std::optional<RTCPCompound> ParseRTCPCompound(std::span<const std::uint8_t> datagram);

// The fields of a receiver report that this receiver fills; loss and jitter are not
// tracked and go out as 0.
struct RTCPReceiverReport
{
    std::uint32_t ownSSRC = 0;
    std::uint32_t sourceSSRC = 0;
    std::uint32_t extendedHighestSequence = 0;
    std::uint32_t lastSenderReport = 0;
    // In 1/65536 s.
    std::uint32_t delaySinceLastSenderReport = 0;
};

std::array<std::uint8_t, kRTCPReceiverReportLength> BuildReceiverReport(const RTCPReceiverReport& report);
std::array<std::uint8_t, kRTCPByeLength> BuildBye(std::uint32_t ownSSRC);
// An SDES packet with one chunk: the own source and its CNAME (at most 255 bytes are sent).
std::vector<std::uint8_t> BuildSourceDescription(std::uint32_t ownSSRC, std::string_view cname);
// What the receiver sends (RFC 3550 section 6.1: every datagram a compound packet that starts
// with a report and carries the CNAME): the receiver report, the SDES and, when leaving, a BYE
// last.
std::vector<std::uint8_t> BuildReceiverCompound(const RTCPReceiverReport& report, std::string_view cname, bool bye);

// `elapsedMilliseconds` in the DLSR unit of 1/65536 s, truncated; a delay beyond the 32-bit
// field (some 18 hours) is reported as its largest value rather than wrapped to a short one.
std::uint32_t ToDelaySinceLastSenderReport(std::uint64_t elapsedMilliseconds);
}
