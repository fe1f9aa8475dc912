// Given the bytes of a datagram, the parsed packet holds exactly what RFC 3550 places there,
// and anything malformed is refused with the packet left empty.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "rtp/rtp_packet.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// A fixed header whose first byte carries version, padding, extension and CSRC count.
Bytes Header(std::uint8_t first)
{
    return {first, 0x60, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}; // PT=96, seq 1, ts 0, SSRC 0
}

Bytes Span(std::span<const std::uint8_t> bytes)
{
    return {bytes.begin(), bytes.end()};
}

TEST(RtpPacketParse, ReadsEveryFieldOfTheFixedHeader)
{
    const Bytes datagram = {
        0xA0,                   // V=2, P=1, X=0, CC=0
        0xE0,                   // M=1, PT=96
        0xAB, 0xCD,             // sequence 0xABCD
        0x01, 0x02, 0x03, 0x04, // timestamp 0x01020304
        0xDE, 0xAD, 0xBE, 0xEF, // SSRC
        0x65, 0x00, 0x02,       // payload, its last two bytes padding
    };
    CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(datagram));
    EXPECT_TRUE(packet.GetMarker());
    EXPECT_EQ(packet.GetPayloadType(), 96);
    EXPECT_EQ(packet.GetSequenceNumber(), 0xABCD);
    EXPECT_EQ(packet.GetTimestamp(), 0x01020304u);
    std::uint32_t ssrc = 0;
    std::memcpy(&ssrc, &datagram[8], 4);
    EXPECT_EQ(packet.GetSSRC(), ssrc) << "kept as received";
    EXPECT_TRUE(packet.GetPadding());
    EXPECT_EQ(Span(packet.GetPayload()), (Bytes{0x65, 0x00, 0x02})) << "padding stays in the payload";
    EXPECT_EQ(packet.GetCSRCCount(), 0);
    EXPECT_EQ(packet.GetExtensionLength(), 0);

    // The smallest packet: a header and one payload byte; M=0 with PT=127.
    Bytes minimal = Join({Header(0x80), {0x42}});
    minimal[1] = 0x7F;
    ASSERT_TRUE(packet.Parse(minimal));
    EXPECT_FALSE(packet.GetMarker());
    EXPECT_EQ(packet.GetPayloadType(), 127);
    EXPECT_EQ(packet.GetPayloadLength(), 1u);
}

TEST(RtpPacketParse, FindsThePayloadAfterTheCsrcListAndTheExtension)
{
    const Bytes datagram = Join({
        Header(0x92),                                     // V=2, X=1, CC=2
        {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, // two CSRCs
        {0xBE, 0xDE, 0x00, 0x02},                         // profile 0xBEDE, two words
        {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}, // extension data
        {0xA1, 0xA2, 0xA3, 0xA4},                         // payload
    });
    CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(datagram));
    EXPECT_EQ(packet.GetCSRCCount(), 2);
    EXPECT_EQ(Span(packet.GetCSRCList()), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(packet.GetExtensionLength(), 2);
    std::uint16_t profile = 0;
    std::memcpy(&profile, &datagram[20], 2);
    EXPECT_EQ(packet.GetExtensionProfile(), profile) << "kept as received";
    EXPECT_EQ(packet.GetExtensionData().size(), 8u);
    EXPECT_EQ(Span(packet.GetPayload()), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));

    // An extension of 300 words is skipped whole; one of no words takes its 4-byte header.
    ASSERT_TRUE(packet.Parse(Join({Header(0x90), {0x10, 0x00, 0x01, 0x2C}, Bytes(1200, 0xEE), {0x01, 0x02}})));
    EXPECT_EQ(packet.GetExtensionData().size(), 1200u);
    EXPECT_EQ(Span(packet.GetPayload()), (Bytes{0x01, 0x02}));
    ASSERT_TRUE(packet.Parse(Join({Header(0x90), {0x00, 0x00, 0x00, 0x00}, {0x42}})));
    EXPECT_TRUE(packet.GetExtensionData().empty());
    EXPECT_EQ(Span(packet.GetPayload()), (Bytes{0x42}));
}

TEST(RtpPacketParse, RefusesMalformedDatagramsAndKeepsNothingOfTheLastPacket)
{
    const Bytes good = Join({Header(0x91), {0xCA, 0xFE, 0xBA, 0xBE}, {0x00, 0x01, 0x00, 0x01}, Bytes(4, 0x77), {0x01}});
    const std::vector<std::pair<const char*, Bytes>> refused = {
        {"empty", {}},
        {"header only", Header(0x80)},
        {"version 0", Join({Header(0x00), Bytes(8, 0x55)})},
        {"version 1", Join({Header(0x40), Bytes(8, 0x55)})},
        {"version 3", Join({Header(0xC0), Bytes(8, 0x55)})},
        {"CC=2, nothing after the list", Join({Header(0x82), Bytes(8, 0x01)})},
        {"CC=2, list cut short", Join({Header(0x82), Bytes(5, 0x01)})},
        {"CC=15, nothing after the list", Join({Header(0x8F), Bytes(60, 0x01)})},
        {"X=1, extension header cut short", Join({Header(0x90), {0x00, 0x00, 0x00}})},
        {"X=1, empty extension, no payload", Join({Header(0x90), {0x00, 0x00, 0x00, 0x00}})},
        {"X=1, 300 words, no payload", Join({Header(0x90), {0x10, 0x00, 0x01, 0x2C}, Bytes(1200, 0xEE)})},
        {"X=1, 300 words cut short", Join({Header(0x90), {0x10, 0x00, 0x01, 0x2C}, Bytes(1199, 0xEE)})},
        {"CC=1, X=1, no payload", Join({Header(0x91), {0xCA, 0xFE, 0xBA, 0xBE}, {0x00, 0x01, 0x00, 0x00}})},
        {"the good one without its payload", Bytes(good.begin(), good.end() - 1)},
    };
    for (const auto& [name, bytes] : refused)
    {
        CRTPPacket packet;
        ASSERT_TRUE(packet.Parse(good));
        EXPECT_FALSE(packet.Parse(bytes)) << name;
        EXPECT_EQ(packet.GetCSRCCount() + packet.GetSSRC() + packet.GetPayloadType() + packet.GetSequenceNumber() +
                      packet.GetTimestamp() + packet.GetExtensionLength() + packet.GetExtensionProfile() +
                      packet.GetPayloadLength(),
                  0u)
            << name;
        EXPECT_TRUE(packet.GetCSRCList().empty() && packet.GetExtensionData().empty() && packet.GetPayload().empty() &&
                    !packet.GetMarker() && !packet.GetPadding())
            << name;
    }
    // One payload byte more than the limits above is enough.
    CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(Join({Header(0x8F), Bytes(60, 0x01), {0xFF}})));
    EXPECT_TRUE(packet.Parse(Join({Header(0x80), {0xFF}})));
}
}
}
