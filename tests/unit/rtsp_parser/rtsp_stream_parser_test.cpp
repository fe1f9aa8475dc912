// Given the bytes of an RTSP connection carrying the stream interleaved, cut into blocks however the
// socket delivers them, the RTP packets the session's user receives.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_stream_parser.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

struct Received
{
    std::uint16_t sequenceNumber;
    Bytes payload;

    bool operator==(const Received&) const = default;
};

class RecordingUser : public IRTPReceiverUser
{
public:
    void OnInterleavedPacket(const CRTPPacket& packet) override
    {
        const auto payload = packet.GetPayload();
        packets.push_back({packet.GetSequenceNumber(), Bytes(payload.begin(), payload.end())});
        if (throwOnNext)
        {
            throwOnNext = false;
            throw std::runtime_error("channel failed");
        }
    }
    void OnPacket(const platform::SocketAddressV4&, const CRTPPacket&) override {}
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override {}
    void OnParameterSets(const ParameterSets&) override {}
    void OnServerPorts(std::uint16_t, std::uint16_t) override {}
    void OnInterleavedReport(std::span<const std::uint8_t> report) override
    {
        reports.emplace_back(report.begin(), report.end());
    }

    // Makes `parser` hand its answers to this user.
    void Listen(CRTSPStreamParser& parser)
    {
        parser.SetMessageHandler([this](std::string_view message) { messages.emplace_back(message); });
    }

    std::vector<Received> packets;
    std::vector<Bytes> reports;
    std::vector<std::string> messages;
    bool throwOnNext = false;
};

void Append(Bytes& out, std::span<const std::uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void Append(Bytes& out, std::string_view text)
{
    out.insert(out.end(), text.begin(), text.end());
}

// An RTP packet: version 2, payload type 96, the sequence number, timestamp and SSRC fixed.
Bytes Rtp(std::uint16_t sequenceNumber, const Bytes& payload)
{
    Bytes packet = {
        0x80,
        0x60, // V=2, PT=96
        static_cast<std::uint8_t>(sequenceNumber >> 8),
        static_cast<std::uint8_t>(sequenceNumber),
        0x00,
        0x01,
        0x5f,
        0x90, // timestamp 90000
        0x12,
        0x34,
        0x56,
        0x78, // SSRC
    };
    Append(packet, payload);
    return packet;
}

// "$", the channel, the big-endian length, the bytes.
Bytes Frame(std::uint8_t channel, const Bytes& bytes)
{
    Bytes frame = {'$', channel, static_cast<std::uint8_t>(bytes.size() >> 8), static_cast<std::uint8_t>(bytes.size())};
    Append(frame, bytes);
    return frame;
}

// The stream of a GStreamer session: the PLAY answer, RTP on channel 0, sender reports on channel 1.
struct SessionStream
{
    Bytes bytes;
    std::vector<Received> expected;
    std::vector<Bytes> reports;
    std::vector<std::string> messages;
};

SessionStream MakeSessionStream()
{
    SessionStream stream;
    Append(stream.bytes, std::string_view("\x17$garbage$$", 11));
    stream.messages.emplace_back("RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 5DE4;timeout=60\r\n"
                                 "RTP-Info: url=rtsp://127.0.0.1:8554/test/stream=0;seq=1;rtptime=90000\r\n"
                                 "Range: npt=0.000-\r\n\r\n");
    Append(stream.bytes, stream.messages.back());
    const Bytes first = {0x65, 0x88, 0x84, 0x00, '$', 0x00, 0x10};
    Append(stream.bytes, Frame(0, Rtp(1, first)));
    // A sender report whose NTP time holds "$" 0x00 0xFF 0xFF: scanned byte by byte it would start a frame
    // of 65535 bytes and swallow the video after it.
    stream.reports.push_back({0x80, 0xc8, 0x00, 0x06, 0x12, 0x34, 0x56, 0x78, 0xe9, '$',  0x00, 0xff, 0xff, 0x00,
                              0x00, 0x00, 0x00, 0x01, 0x5f, 0x90, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07});
    Append(stream.bytes, Frame(1, stream.reports.back()));
    const Bytes second = {0x41, 0x9a, 0x02};
    Append(stream.bytes, Frame(0, Rtp(2, second)));
    Append(stream.bytes, Frame(0, {}));                             // length 0: skipped
    Append(stream.bytes, Frame(0, {0x00, 0x60, 0x00, 0x09, 0x01})); // not RTP version 2: dropped
    stream.messages.emplace_back("RTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n");
    Append(stream.bytes, stream.messages.back());
    // An answer whose body looks like a frame: passed over by its length, never delivered.
    const Bytes body = Frame(0, Rtp(99, {0x65}));
    stream.messages.push_back("RTSP/1.0 200 OK\r\nCSeq: 6\r\ncontent-length:" + std::to_string(body.size()) +
                              "\r\n\r\n");
    Append(stream.bytes, stream.messages.back());
    Append(stream.bytes, body);
    const Bytes third = {0x41, 0x9a, 0x04, 0x24};
    Append(stream.bytes, Frame(0, Rtp(3, third)));
    stream.expected = {{1, first}, {2, second}, {3, third}};
    return stream;
}

TEST(RtspStreamParser, DeliversEveryFrameWhereverTheBlocksAreCut)
{
    const SessionStream stream = MakeSessionStream();
    const std::span<const std::uint8_t> bytes = stream.bytes;
    for (std::size_t first = 0; first <= bytes.size(); ++first)
    {
        for (std::size_t second = first; second <= bytes.size(); ++second)
        {
            RecordingUser user;
            CRTSPStreamParser parser(user);
            user.Listen(parser);
            parser.Process(bytes.first(first));
            parser.Process(bytes.subspan(first, second - first));
            parser.Process(bytes.subspan(second));
            ASSERT_EQ(user.packets, stream.expected) << "blocks cut at " << first << " and " << second;
            ASSERT_EQ(user.reports, stream.reports) << "blocks cut at " << first << " and " << second;
            ASSERT_EQ(user.messages, stream.messages) << "blocks cut at " << first << " and " << second;
        }
    }
}

TEST(RtspStreamParser, DeliversEveryFrameFedOneByteAtATime)
{
    const SessionStream stream = MakeSessionStream();
    RecordingUser user;
    CRTSPStreamParser parser(user);
    user.Listen(parser);
    for (const std::uint8_t& byte : stream.bytes)
        parser.Process({&byte, 1});
    EXPECT_EQ(user.packets, stream.expected);
    EXPECT_EQ(user.messages, stream.messages);
}

TEST(RtspStreamParser, DeliversAFrameOfTheLargestLength)
{
    const Bytes payload(65535 - 12, 0xa5);
    Bytes bytes = Frame(0, Rtp(7, payload));
    ASSERT_EQ(bytes.size(), 4u + 65535u);
    Append(bytes, Frame(0, Rtp(8, {0x01})));

    RecordingUser user;
    CRTSPStreamParser parser(user);
    const std::span<const std::uint8_t> all = bytes;
    parser.Process(all.first(3));
    parser.Process(all.subspan(3, 40000));
    parser.Process(all.subspan(40003));
    ASSERT_EQ(user.packets.size(), 2u);
    EXPECT_EQ(user.packets[0], (Received{7, payload}));
    EXPECT_EQ(user.packets[1], (Received{8, {0x01}}));
}

TEST(RtspStreamParser, ResumesRightAfterAFrameOfLengthZero)
{
    // The header of the next frame follows the empty one directly.
    Bytes bytes = {'$', 0x00, 0x00, 0x00};
    Append(bytes, Frame(0, Rtp(9, {0x09})));
    RecordingUser user;
    CRTSPStreamParser parser(user);
    parser.Process(bytes);
    EXPECT_EQ(user.packets, (std::vector<Received>{{9, {0x09}}}));
}

TEST(RtspStreamParser, IsReadyForTheNextBlockWhenTheUserThrows)
{
    Bytes bytes = Frame(0, Rtp(1, {0x01}));
    Append(bytes, Frame(0, Rtp(2, {0x02})));
    RecordingUser user;
    user.throwOnNext = true;
    CRTSPStreamParser parser(user);
    EXPECT_THROW(parser.Process(bytes), std::runtime_error);
    parser.Process(Frame(0, Rtp(3, {0x03})));
    EXPECT_EQ(user.packets, (std::vector<Received>{{1, {0x01}}, {3, {0x03}}}));
}
}

TEST(RtspStreamParser, FollowsTheChannelsTheCameraChose)
{
    RecordingUser user;
    CRTSPStreamParser parser(user, 2, 3);
    Bytes stream = Frame(0, Rtp(7, {0x41}));
    // A report on the RTCP channel holding "$" 0x02 is skipped by its length, not taken for a frame.
    Append(stream, Frame(3, {0x80, 0xc8, 0x00, 0x01, '$', 0x02, 0x00, 0x20}));
    const Bytes payload = {0x65, 0x01};
    Append(stream, Frame(2, Rtp(8, payload)));
    parser.Process(stream);
    EXPECT_EQ(user.packets, (std::vector<Received>{{8, payload}}));
}
}
