// The receiver report and BYE as they go out, and the sender report read from the camera's
// datagrams, whatever those hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rtp/rtcp_packets.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

// V=2, PT=200, length 6: SSRC 0x0A0B0C0D, NTP 0x11223344.55667788, then RTP timestamp,
// packet and octet counts.
const Bytes kSenderReport = {
    0x80, 200,  0x00, 0x06, // V=2, P=0, RC=0, PT=SR, length 6 words
    0x0A, 0x0B, 0x0C, 0x0D, // sender SSRC
    0x11, 0x22, 0x33, 0x44, // NTP seconds
    0x55, 0x66, 0x77, 0x88, // NTP fraction
    0x00, 0x01, 0x5F, 0x90, // RTP timestamp
    0x00, 0x00, 0x00, 0x10, // packet count
    0x00, 0x00, 0x40, 0x00, // octet count
};

// V=2, PT=201, RC=0: a camera's empty receiver report.
const Bytes kEmptyReceiverReport = {0x80, 201, 0x00, 0x01, 0x0A, 0x0B, 0x0C, 0x0D};

// V=2, PT=202, SC=1: SSRC, CNAME "cam" and the end of the list, padded to a word.
const Bytes kSdes = {0x81, 202, 0x00, 0x03, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x03, 'c', 'a', 'm', 0x00, 0x00, 0x00};

Bytes Concatenated(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(RtcpPackets, ReceiverReportCarriesOneBlockAboutTheCamera)
{
    const RTCPReceiverReport report{0xA1B2C3D4, 0x0A0B0C0D, 0x00010001, 0x33445566, 98304};
    const Bytes expected = {
        0x81, 201,  0x00, 0x07, // V=2, P=0, RC=1, PT=RR, length 7 words
        0xA1, 0xB2, 0xC3, 0xD4, // own SSRC
        0x0A, 0x0B, 0x0C, 0x0D, // source SSRC
        0x00, 0x00, 0x00, 0x00, // fraction lost, cumulative number lost: not tracked
        0x00, 0x01, 0x00, 0x01, // extended highest sequence number
        0x00, 0x00, 0x00, 0x00, // jitter: not tracked
        0x33, 0x44, 0x55, 0x66, // LSR
        0x00, 0x01, 0x80, 0x00, // DLSR, 1.5 s
    };
    const auto built = BuildReceiverReport(report);
    EXPECT_EQ(Bytes(built.begin(), built.end()), expected);
}

TEST(RtcpPackets, ByeNamesOnlyTheOwnSource)
{
    const auto built = BuildBye(0xA1B2C3D4);
    EXPECT_EQ(Bytes(built.begin(), built.end()), (Bytes{0x81, 203, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST(RtcpPackets, ReportsGoOutAsCompoundPacketsWithTheCNameAndByeLast)
{
    const RTCPReceiverReport report{0xA1B2C3D4, 0x0A0B0C0D, 7, 0, 0};
    const auto receiverReport = BuildReceiverReport(report);
    const Bytes rr(receiverReport.begin(), receiverReport.end());
    // SC=1, PT=SDES: the chunk's 4 + 2 + 3 bytes and the end of its item list fill 3 words.
    const Bytes sdes = {0x81, 202, 0x00, 0x03, 0xA1, 0xB2, 0xC3, 0xD4, 0x01, 0x03, 'r', 'c', 'v', 0x00, 0x00, 0x00};
    const Bytes bye = {0x81, 203, 0x00, 0x01, 0xA1, 0xB2, 0xC3, 0xD4};
    EXPECT_EQ(BuildReceiverCompound(report, "rcv", false), Concatenated({rr, sdes}));
    EXPECT_EQ(BuildReceiverCompound(report, "rcv", true), Concatenated({rr, sdes, bye}));
    // A CNAME that fills its last word still gets a zero byte, and so a word of its own.
    EXPECT_EQ(BuildSourceDescription(0xA1B2C3D4, "ab"),
              (Bytes{0x81, 202, 0x00, 0x03, 0xA1, 0xB2, 0xC3, 0xD4, 0x01, 0x02, 'a', 'b', 0x00, 0x00, 0x00, 0x00}));
    const Bytes longest = BuildSourceDescription(1, std::string(300, 'x'));
    ASSERT_EQ(longest.size(), 8u + 2 + 255 + 3);
    EXPECT_EQ(longest[9], 255);
    EXPECT_EQ(longest.back(), 0x00);
    // What it sends reads back as RTCP, packet by packet.
    const auto parsed = ParseRTCPCompound(BuildReceiverCompound(report, "rcv", true));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->packetCount, 3u);
}

TEST(RtcpPackets, DelaySinceLastSenderReportIsInUnitsOf65536thsOfASecond)
{
    EXPECT_EQ(ToDelaySinceLastSenderReport(0), 0u);
    EXPECT_EQ(ToDelaySinceLastSenderReport(1), 65u) << "65.536, truncated";
    EXPECT_EQ(ToDelaySinceLastSenderReport(1500), 98304u);
    EXPECT_EQ(ToDelaySinceLastSenderReport(65535999), 4294967230u);
    // From 65536 s on the field is full; a wrapped, short delay would make the camera's
    // round-trip time wrong.
    EXPECT_EQ(ToDelaySinceLastSenderReport(65536000), 0xFFFFFFFFu);
    EXPECT_EQ(ToDelaySinceLastSenderReport(UINT64_MAX), 0xFFFFFFFFu);
}

TEST(RtcpPackets, SenderReportGivesItsSourceAndTheMiddleOfItsNtpTime)
{
    const auto compound = ParseRTCPCompound(kSenderReport);
    ASSERT_TRUE(compound);
    EXPECT_EQ(compound->packetCount, 1u);
    ASSERT_TRUE(compound->senderReport);
    EXPECT_EQ(compound->senderReport->senderSSRC, 0x0A0B0C0Du);
    EXPECT_EQ(compound->senderReport->ntpMiddle, 0x33445566u);

    // With a report block (RC=1, length 12) and an SDES behind it.
    Bytes withBlock = kSenderReport;
    withBlock[0] = 0x81;
    withBlock[3] = 12;
    withBlock.resize(withBlock.size() + 24, 0xEE);
    const auto compoundWithBlock = ParseRTCPCompound(Concatenated({withBlock, kSdes}));
    ASSERT_TRUE(compoundWithBlock && compoundWithBlock->senderReport);
    EXPECT_EQ(compoundWithBlock->packetCount, 2u);
    EXPECT_EQ(compoundWithBlock->senderReport->ntpMiddle, 0x33445566u);
}

TEST(RtcpPackets, TheSenderReportIsFoundBehindOtherPackets)
{
    Bytes second = kSenderReport;
    second[4] = 0x99;
    const auto compound = ParseRTCPCompound(Concatenated({kEmptyReceiverReport, kSdes, kSenderReport, second}));
    ASSERT_TRUE(compound && compound->senderReport);
    EXPECT_EQ(compound->packetCount, 4u);
    EXPECT_EQ(compound->senderReport->senderSSRC, 0x0A0B0C0Du) << "the first sender report counts";
}

TEST(RtcpPackets, OtherPacketsAreRtcpWithoutASenderReport)
{
    for (const Bytes& datagram : {kEmptyReceiverReport, kSdes, Concatenated({kEmptyReceiverReport, kSdes})})
    {
        const auto compound = ParseRTCPCompound(datagram);
        ASSERT_TRUE(compound);
        EXPECT_FALSE(compound->senderReport);
    }
}

TEST(RtcpPackets, DatagramsThatAreNotRtcpAreRefused)
{
    EXPECT_FALSE(ParseRTCPCompound(Bytes{}));
    EXPECT_FALSE(ParseRTCPCompound(Bytes{0x80, 200, 0x00}));
    Bytes versionOne = kSenderReport;
    versionOne[0] = 0x40;
    EXPECT_FALSE(ParseRTCPCompound(versionOne));
    // Cut short: the length field promises 28 bytes.
    EXPECT_FALSE(ParseRTCPCompound(Bytes(kSenderReport.begin(), kSenderReport.begin() + 27)));
    Bytes overlong = kSenderReport;
    overlong[2] = 0xFF;
    EXPECT_FALSE(ParseRTCPCompound(overlong));
    // An RTP packet on the RTCP port (V=2, PT=96): the length is read from its sequence number.
    EXPECT_FALSE(ParseRTCPCompound(Bytes{0x80, 0x60, 0x12, 0x34, 0, 0, 0, 0, 1, 2, 3, 4, 0xA5}));
}

TEST(RtcpPackets, ASenderReportTooShortForItsSenderInformationIsNotUsed)
{
    // The length field says 2 words: a header and the SSRC, without the NTP time.
    const Bytes shortened = {0x80, 200, 0x00, 0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x11, 0x22, 0x33, 0x44};
    const auto compound = ParseRTCPCompound(shortened);
    ASSERT_TRUE(compound);
    EXPECT_FALSE(compound->senderReport);

    // Padding counts against the sender information: 4 of its 28 bytes are padding here.
    Bytes padded = kSenderReport;
    padded[0] = 0xA0;
    padded.back() = 4;
    const auto paddedCompound = ParseRTCPCompound(padded);
    ASSERT_TRUE(paddedCompound);
    EXPECT_FALSE(paddedCompound->senderReport);
}

// The empty receiver report with its padding flag set and `count` as its last byte.
Bytes WithPadding(std::uint8_t count)
{
    Bytes bytes(kEmptyReceiverReport.begin(), kEmptyReceiverReport.end());
    bytes.front() = 0xA0;
    bytes[bytes.size() - 1] = count;
    return bytes;
}

TEST(RtcpPackets, TheWalkEndsAtTheFirstUnreadablePacket)
{
    // What comes after a readable sender report cannot take it back.
    const auto trailingGarbage = ParseRTCPCompound(Concatenated({kSenderReport, Bytes{0x00, 0x01, 0x02, 0x03, 0x04}}));
    ASSERT_TRUE(trailingGarbage && trailingGarbage->senderReport);
    EXPECT_EQ(trailingGarbage->packetCount, 1u);

    // Nor is a sender report behind an unreadable packet taken.
    // Padding flag set, and a last byte claiming more padding than the packet holds. Written out
    // rather than patched into a copy, which g++ 12 misreads as an out-of-bounds write.
    const Bytes badPadding = WithPadding(9);
    const auto hidden = ParseRTCPCompound(Concatenated({kEmptyReceiverReport, badPadding, kSenderReport}));
    ASSERT_TRUE(hidden);
    EXPECT_EQ(hidden->packetCount, 1u);
    EXPECT_FALSE(hidden->senderReport);

    EXPECT_FALSE(ParseRTCPCompound(Concatenated({WithPadding(0), kSenderReport})));
}
}
}
