// The RTCP handler against real UDP peers on 127.0.0.1: the SETUP port that the camera named,
// the port its sender reports really come from, and a stranger on 127.0.0.2. Reports are
// checked byte for byte as the camera receives them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rtp/rtcp_handler.h"
#include "support/recording_owner.h"
#include "udp_test_support.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;
using testing::Loopback;
using testing::UdpPeer;

std::uint32_t LoopbackAddress()
{
    return Loopback(0).address;
}

std::uint32_t Field(const Bytes& datagram, std::size_t offset)
{
    return std::uint32_t{datagram.at(offset)} << 24 | std::uint32_t{datagram.at(offset + 1)} << 16 |
           std::uint32_t{datagram.at(offset + 2)} << 8 | std::uint32_t{datagram.at(offset + 3)};
}

// 32-bit words, most significant byte first.
Bytes Words(std::initializer_list<std::uint32_t> words)
{
    Bytes bytes;
    for (const std::uint32_t word : words)
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    return bytes;
}

// V=2, RC=0, PT=SR, length 6, then the sender information with RTP timestamp 90000, 16
// packets and 16384 octets.
Bytes SenderReport(std::uint32_t ssrc, std::uint64_t ntpTime)
{
    return Words({0x80C80006, ssrc, static_cast<std::uint32_t>(ntpTime >> 32), static_cast<std::uint32_t>(ntpTime),
                  90000, 16, 16384});
}

// The camera's own receiver report without blocks, and an SDES with CNAME "cam": RTCP, but
// no sender report.
const Bytes kReceiverReportAndSdes = Words({0x80C90001, 0x0A0B0C0D, 0x81CA0003, 0x0A0B0C0D, 0x01036361, 0x6D000000});

// The DLSR field's value after `milliseconds`, rounded up.
std::uint32_t DelayUnits(std::int64_t milliseconds)
{
    return static_cast<std::uint32_t>((milliseconds * 65536 + 999) / 1000);
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The SDES that follows every receiver report: V=2, SC=1, PT=SDES, length 6 words, then the
// own SSRC, the 16-character CNAME item and the zero bytes that end the chunk.
Bytes Sdes(const CRTCPHandler& handler)
{
    Bytes sdes = Words({0x81CA0006, handler.GetOwnSSRC()});
    sdes.insert(sdes.end(), {0x01, 0x10});
    sdes.insert(sdes.end(), handler.GetCName().begin(), handler.GetCName().end());
    sdes.insert(sdes.end(), {0x00, 0x00});
    return sdes;
}

Bytes Join(Bytes first, const Bytes& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A receiver report and its SDES.
constexpr std::size_t kReportSize = 32 + 28;

// For the checks that nothing (more) arrives.
void ShortenReceiveTimeout(UdpPeer& peer)
{
    ASSERT_TRUE(platform::SetSocketOption(peer.Handle(), platform::SocketOption::ReceiveTimeout, 150));
}

// A host other than the camera: 127.0.0.2 is on the loopback too.
class Stranger
{
public:
    Stranger() : m_socket(testing::OpenUdpSocket("127.0.0.2")) {}
    ~Stranger()
    {
        if (IsBound())
            platform::CloseSocket(m_socket);
    }
    Stranger(const Stranger&) = delete;
    Stranger& operator=(const Stranger&) = delete;

    bool IsBound() const { return m_socket != platform::kInvalidSocket; }

    void Send(std::uint16_t port, const Bytes& bytes)
    {
        ASSERT_EQ(platform::SendToSocket(m_socket, bytes, testing::Loopback(port)), static_cast<int>(bytes.size()));
    }

private:
    platform::SocketHandle m_socket;
};

class RtcpHandler : public ::testing::Test
{
protected:
    testing::RecordingOwner m_owner;
    // The camera's RTCP port as its SETUP answer names it.
    UdpPeer m_setupPort;
    // The port the camera's sender reports come from.
    UdpPeer m_cameraSender;
};

TEST_F(RtcpHandler, ReportsEveryPeriodToTheSetupPortBeforeAnySenderReport)
{
    CRTCPHandler handler(&m_owner, 20);
    for (const std::uint16_t sequence : {65534, 65535, 0, 1})
        handler.UpdateSequence(sequence, 0x5EED0001);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    EXPECT_NE(handler.GetLocalPort(), 0);
    EXPECT_EQ(handler.GetThreadName(), "RTCP Handler Thread");
    handler.SetServerPort(m_setupPort.Port());

    const Bytes expected = Join(Words({
                                    0x81C90007,           // V=2, P=0, RC=1, PT=RR, length 7 words
                                    handler.GetOwnSSRC(), // own SSRC
                                    0x5EED0001,           // the source the RTP packets showed
                                    0x00000000,           // fraction and cumulative number lost
                                    0x00010001,           // one wrap, highest sequence 1
                                    0x00000000,           // jitter
                                    0x00000000,           // LSR: no sender report yet
                                    0x00000000,           // DLSR
                                }),
                                Sdes(handler));
    EXPECT_EQ(handler.GetCName().find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
              std::string::npos);
    // Two in a row: nothing but the period sends them.
    EXPECT_EQ(m_setupPort.Receive(), expected);
    EXPECT_EQ(m_setupPort.Receive(), expected);
}

TEST_F(RtcpHandler, AnswersASenderReportAtOnceWhereItCameFrom)
{
    // The period never runs out here: every report is an answer.
    auto handler = std::make_unique<CRTCPHandler>(&m_owner, 600000);
    ASSERT_TRUE(handler->StartRTCP(LoopbackAddress(), 0));
    handler->SetServerPort(m_setupPort.Port());
    handler->UpdateSequence(4711, 0xCAFEBABE);

    const auto sent = std::chrono::steady_clock::now();
    m_cameraSender.Send(handler->GetLocalPort(), SenderReport(0xCAFEBABE, 0x1122334455667788));
    const Bytes answer = m_cameraSender.Receive();
    const std::int64_t elapsed = MillisecondsSince(sent);
    ASSERT_EQ(answer.size(), kReportSize);
    EXPECT_EQ(Bytes(answer.begin() + 32, answer.end()), Sdes(*handler));
    // The source named by the sender report, the sequence, and the middle of its NTP time.
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 28),
              Words({0x81C90007, handler->GetOwnSSRC(), 0xCAFEBABE, 0, 4711, 0, 0x33445566}));
    EXPECT_LE(Field(answer, 28), DelayUnits(elapsed + 1));

    // The latch holds: a later sender report from another port of the camera is answered at
    // the first one's source, with the later report's time.
    m_setupPort.Send(handler->GetLocalPort(), SenderReport(0xCAFEBABE, 0x1122AABBCCDD7788));
    const Bytes second = m_cameraSender.Receive();
    ASSERT_EQ(second.size(), kReportSize);
    EXPECT_EQ(Field(second, 24), 0xAABBCCDDu);
    ShortenReceiveTimeout(m_setupPort);
    EXPECT_TRUE(m_setupPort.Receive().empty()) << "nothing goes to the SETUP port once a sender is latched";

    // Destroying a running handler says BYE as a stop does.
    const Bytes sdes = Sdes(*handler);
    const std::uint32_t own = handler->GetOwnSSRC();
    handler.reset();
    const Bytes bye = m_cameraSender.Receive();
    ASSERT_EQ(bye.size(), kReportSize + 8);
    EXPECT_EQ(Bytes(bye.begin() + 32, bye.end()), Join(sdes, Words({0x81CB0001, own})));
}

TEST_F(RtcpHandler, TheDelaySinceTheSenderReportGrowsWithEveryReport)
{
    CRTCPHandler handler(&m_owner, 200);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    // No SETUP port: every report received here follows the sender report.
    const auto sent = std::chrono::steady_clock::now();
    m_cameraSender.Send(handler.GetLocalPort(), SenderReport(0x0A0B0C0D, 0x0000000100020000));
    std::vector<std::uint32_t> delays;
    for (int i = 0; i < 3; ++i)
    {
        const Bytes report = m_cameraSender.Receive();
        ASSERT_EQ(report.size(), kReportSize);
        EXPECT_EQ(Field(report, 24), 0x00010002u);
        delays.push_back(Field(report, 28));
    }
    const std::int64_t elapsed = MillisecondsSince(sent);
    EXPECT_LE(delays[0], delays[1]);
    EXPECT_LE(delays[1], delays[2]);
    // However the answer and the period fell, the third report came at least one full period
    // after the sender report.
    EXPECT_GE(delays[2], 199u * 65536 / 1000);
    EXPECT_LE(delays[2], DelayUnits(elapsed + 1));
}

TEST_F(RtcpHandler, OnlyTheCamerasRtcpIsAnsweredAndOnlyASenderReportLatches)
{
    Stranger stranger;
    if (!stranger.IsBound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    CRTCPHandler handler(&m_owner, 600000);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    handler.SetServerPort(m_setupPort.Port());

    // A sender report from another host, and bytes from the camera that are not RTCP.
    stranger.Send(handler.GetLocalPort(), SenderReport(0xBADBAD00, 0x1122334455667788));
    m_cameraSender.Send(handler.GetLocalPort(), Bytes(16, 0x00));
    ShortenReceiveTimeout(m_setupPort);
    EXPECT_TRUE(m_setupPort.Receive().empty()) << "neither is answered";

    // RTCP from the camera without a sender report is answered, still at the SETUP port and
    // still without a source SSRC or a time to echo.
    m_cameraSender.Send(handler.GetLocalPort(), kReceiverReportAndSdes);
    const Bytes answer = m_setupPort.Receive();
    ASSERT_EQ(answer.size(), kReportSize);
    EXPECT_EQ(Field(answer, 8), 0x0100007Fu);
    EXPECT_EQ(Field(answer, 24), 0u);
    EXPECT_EQ(Field(answer, 28), 0u);
    ShortenReceiveTimeout(m_cameraSender);
    EXPECT_TRUE(m_cameraSender.Receive().empty());
}

TEST_F(RtcpHandler, StopSaysByeAfterTheLastReportAndARestartForgetsTheSender)
{
    CRTCPHandler handler(&m_owner, 20);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    handler.UpdateSequence(7, 0xCAFEBABE);
    m_cameraSender.Send(handler.GetLocalPort(), SenderReport(0xCAFEBABE, 0x1122334455667788));
    ASSERT_EQ(m_cameraSender.Receive().size(), kReportSize);

    handler.StopRTCP();
    EXPECT_EQ(handler.GetLocalPort(), 0);
    Bytes datagram;
    do
        datagram = m_cameraSender.Receive();
    while (datagram.size() == kReportSize);
    // One compound packet: a last report, the SDES, then V=2, SC=1, PT=BYE, length 1.
    ASSERT_EQ(datagram.size(), kReportSize + 8);
    EXPECT_EQ(Bytes(datagram.begin(), datagram.begin() + 28),
              Words({0x81C90007, handler.GetOwnSSRC(), 0xCAFEBABE, 0, 7, 0, 0x33445566}));
    EXPECT_EQ(Bytes(datagram.begin() + 32, datagram.end()),
              Join(Sdes(handler), Words({0x81CB0001, handler.GetOwnSSRC()})));
    ShortenReceiveTimeout(m_cameraSender);
    EXPECT_TRUE(m_cameraSender.Receive().empty()) << "nothing after the BYE";

    // A new session: the camera's old sender and its time are gone, the sequence count is
    // not (it spans reconnects).
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    handler.SetServerPort(m_setupPort.Port());
    const Bytes report = m_setupPort.Receive();
    ASSERT_EQ(report.size(), kReportSize);
    EXPECT_EQ(Field(report, 8), 0x0100007Fu);
    EXPECT_EQ(Field(report, 16), 7u);
    EXPECT_EQ(Field(report, 24), 0u);
    EXPECT_EQ(Field(report, 28), 0u);
    EXPECT_TRUE(m_cameraSender.Receive().empty());
    handler.StopRTCP();
    EXPECT_TRUE(m_owner.Lines().empty()) << "every stop in time, nothing terminated";
}

TEST_F(RtcpHandler, StartsOnlyOnceForACameraAndOnAFreePort)
{
    CRTCPHandler handler(&m_owner, 600000);
    EXPECT_FALSE(handler.StartRTCP(0, 0)) << "no camera address";
    EXPECT_EQ(handler.GetLocalPort(), 0);

    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    const std::uint16_t port = handler.GetLocalPort();
    EXPECT_FALSE(handler.StartRTCP(LoopbackAddress(), 0));
    EXPECT_EQ(handler.GetLocalPort(), port);
    handler.StopRTCP();

    EXPECT_FALSE(handler.StartRTCP(LoopbackAddress(), m_setupPort.Port())) << "a port another socket holds";
    EXPECT_EQ(handler.GetLocalPort(), 0);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), port));
    EXPECT_EQ(handler.GetLocalPort(), port);

    CRTCPHandler other(&m_owner);
    EXPECT_NE(other.GetOwnSSRC(), handler.GetOwnSSRC()) << "each handler draws its own source identifier";
    EXPECT_NE(other.GetCName(), handler.GetCName());
}
}

Bytes Bye(std::uint32_t ssrc)
{
    return {0x81,
            0xCB,
            0x00,
            0x01,
            static_cast<std::uint8_t>(ssrc >> 24),
            static_cast<std::uint8_t>(ssrc >> 16),
            static_cast<std::uint8_t>(ssrc >> 8),
            static_cast<std::uint8_t>(ssrc)};
}

// The camera's BYE for the source it sends ends the session for certain; a BYE of anyone else, or
// for another source, does not; a stop forgets it. Over UDP and over the RTSP connection.
TEST_F(RtcpHandler, OnlyTheCamerasByeForItsSourceEndsTheSession)
{
    Stranger stranger;
    if (!stranger.IsBound())
        GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    CRTCPHandler handler(&m_owner, 600000);
    ASSERT_TRUE(handler.StartRTCP(LoopbackAddress(), 0));
    handler.SetServerPort(m_setupPort.Port());
    handler.UpdateSequence(1, 0xCAFE0001);

    stranger.Send(handler.GetLocalPort(), Bye(0xCAFE0001));
    // Datagrams are taken in order: once the camera's report that follows is answered, the BYE was seen.
    m_cameraSender.Send(handler.GetLocalPort(), kReceiverReportAndSdes);
    ASSERT_FALSE(m_setupPort.Receive().empty());
    EXPECT_FALSE(handler.CameraSaidBye());

    Bytes compound = kReceiverReportAndSdes;
    const Bytes bye = Bye(0xCAFE0001);
    compound.insert(compound.end(), bye.begin(), bye.end());
    m_cameraSender.Send(handler.GetLocalPort(), compound);
    for (int waited = 0; waited < 200 && !handler.CameraSaidBye(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(handler.CameraSaidBye());
    handler.StopRTCP();
    EXPECT_FALSE(handler.CameraSaidBye());

    handler.UpdateSequence(2, 0xCAFE0002);
    handler.OnInterleavedReport(Bye(0xCAFE0001));
    handler.OnInterleavedReport(Bytes{0x80, 0xCB, 0x00, 0x00}); // a BYE naming no source
    EXPECT_FALSE(handler.CameraSaidBye()) << "the camera sends as another source now";
    handler.OnInterleavedReport(Bye(0xCAFE0002));
    EXPECT_TRUE(handler.CameraSaidBye());
}
}
