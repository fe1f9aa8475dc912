#include "rtp/rtcp_packets.h"

#include <algorithm>
#include <limits>

namespace kestrav
{
namespace
{
constexpr std::uint8_t kVersion = 2;
constexpr std::size_t kHeaderLength = 4;
// Header, sender SSRC and the 20-byte sender information.
constexpr std::size_t kSenderReportMinimumLength = 28;
constexpr std::size_t kSenderSSRCOffset = 4;
// The NTP timestamp occupies bytes 8-15; LSR is its middle.
constexpr std::size_t kNtpMiddleOffset = 10;

std::uint16_t ReadBigEndian16(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

void WriteBigEndian32(std::span<std::uint8_t> bytes, std::uint32_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

// Version 2, no padding, `count` in the low five bits, and the length in 32-bit words minus one.
void WriteHeader(std::span<std::uint8_t> bytes, std::uint8_t count, std::uint8_t packetType)
{
    bytes[0] = static_cast<std::uint8_t>(kVersion << 6 | count);
    bytes[1] = packetType;
    const std::size_t words = bytes.size() / 4 - 1;
    bytes[2] = static_cast<std::uint8_t>(words >> 8);
    bytes[3] = static_cast<std::uint8_t>(words);
}

// The bytes of the packet without its padding, or nothing when the padding count does not fit.
std::optional<std::span<const std::uint8_t>> WithoutPadding(std::span<const std::uint8_t> packet)
{
    if ((packet[0] & 0x20) == 0)
        return packet;
    const std::size_t padding = packet.back();
    if (padding == 0 || padding > packet.size() - kHeaderLength)
        return std::nullopt;
    return packet.first(packet.size() - padding);
}
}

std::optional<RTCPCompound> ParseRTCPCompound(std::span<const std::uint8_t> datagram)
{
    RTCPCompound compound;
    std::span<const std::uint8_t> rest = datagram;
    while (rest.size() >= kHeaderLength && rest[0] >> 6 == kVersion)
    {
        const std::size_t length = (std::size_t{ReadBigEndian16(rest.subspan(2))} + 1) * 4;
        if (length > rest.size())
            break;
        const std::optional<std::span<const std::uint8_t>> packet = WithoutPadding(rest.first(length));
        if (!packet)
            break;
        if ((*packet)[1] == kRTCPPacketTypeSenderReport && packet->size() >= kSenderReportMinimumLength &&
            !compound.senderReport)
            compound.senderReport = RTCPSenderReport{ReadBigEndian32(packet->subspan(kSenderSSRCOffset)),
                                                     ReadBigEndian32(packet->subspan(kNtpMiddleOffset))};
        // A BYE's first word after the header is the first source leaving; one without a source is no BYE.
        if ((*packet)[1] == kRTCPPacketTypeBye && ((*packet)[0] & 0x1F) > 0 && packet->size() >= 8 &&
            !compound.byeSource)
            compound.byeSource = ReadBigEndian32(packet->subspan(4));
        ++compound.packetCount;
        rest = rest.subspan(length);
    }
    if (compound.packetCount == 0)
        return std::nullopt;
    return compound;
}

std::array<std::uint8_t, kRTCPReceiverReportLength> BuildReceiverReport(const RTCPReceiverReport& report)
{
    std::array<std::uint8_t, kRTCPReceiverReportLength> bytes{};
    const std::span<std::uint8_t> out(bytes);
    WriteHeader(out, 1, kRTCPPacketTypeReceiverReport);
    WriteBigEndian32(out.subspan(4), report.ownSSRC);
    WriteBigEndian32(out.subspan(8), report.sourceSSRC);
    // Bytes 12-15, fraction lost and cumulative number lost, and 20-23, jitter, stay 0.
    WriteBigEndian32(out.subspan(16), report.extendedHighestSequence);
    WriteBigEndian32(out.subspan(24), report.lastSenderReport);
    WriteBigEndian32(out.subspan(28), report.delaySinceLastSenderReport);
    return bytes;
}

std::array<std::uint8_t, kRTCPByeLength> BuildBye(std::uint32_t ownSSRC)
{
    std::array<std::uint8_t, kRTCPByeLength> bytes{};
    const std::span<std::uint8_t> out(bytes);
    WriteHeader(out, 1, kRTCPPacketTypeBye);
    WriteBigEndian32(out.subspan(4), ownSSRC);
    return bytes;
}

std::vector<std::uint8_t> BuildSourceDescription(std::uint32_t ownSSRC, std::string_view cname)
{
    constexpr std::uint8_t kItemCName = 1;
    constexpr std::size_t kLongestItem = 255;
    const std::string_view text = cname.substr(0, kLongestItem);
    // Header, SSRC, item type and length, the text, then at least one zero byte ending the
    // item list, up to the next word.
    const std::size_t unpadded = kHeaderLength + 4 + 2 + text.size() + 1;
    std::vector<std::uint8_t> bytes((unpadded + 3) / 4 * 4, 0);
    const std::span<std::uint8_t> out(bytes);
    WriteHeader(out, 1, kRTCPPacketTypeSourceDescription);
    WriteBigEndian32(out.subspan(4), ownSSRC);
    bytes[8] = kItemCName;
    bytes[9] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 10);
    return bytes;
}

std::vector<std::uint8_t> BuildReceiverCompound(const RTCPReceiverReport& report, std::string_view cname, bool bye)
{
    const auto receiverReport = BuildReceiverReport(report);
    std::vector<std::uint8_t> bytes(receiverReport.begin(), receiverReport.end());
    const std::vector<std::uint8_t> description = BuildSourceDescription(report.ownSSRC, cname);
    bytes.insert(bytes.end(), description.begin(), description.end());
    if (bye)
    {
        const auto goodbye = BuildBye(report.ownSSRC);
        bytes.insert(bytes.end(), goodbye.begin(), goodbye.end());
    }
    return bytes;
}

std::uint32_t ToDelaySinceLastSenderReport(std::uint64_t elapsedMilliseconds)
{
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
    // Clamped first, so that the product cannot overflow.
    const std::uint64_t milliseconds = std::min<std::uint64_t>(elapsedMilliseconds, kLargest);
    return static_cast<std::uint32_t>(std::min(milliseconds * 65536 / 1000, kLargest));
}
}
