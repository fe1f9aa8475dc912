// The RTP port of a channel against a real peer on 127.0.0.1: packets reach the channel in
// arrival order on the receiver's own thread, the queue is bounded, and a close leaves
// nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rtp/rtp_receiver.h"
#include "runtime/event.h"
#include "support/recording_owner.h"
#include "udp_test_support.h"

namespace kestrav
{
namespace
{
using testing::RtpDatagram;
using testing::WaitUntil;

class RecordingChannel : public IRTPReceiverUser
{
public:
    void OnInterleavedPacket(const CRTPPacket&) override {}
    void OnPacket(const platform::SocketAddressV4& source, const CRTPPacket& packet) override
    {
        inside = true;
        entered.Set();
        if (blockFirst.exchange(false))
            release.Wait(10000);
        {
            std::lock_guard lock(m_mutex);
            m_sequences.push_back(packet.GetSequenceNumber());
            m_sources.push_back(source);
        }
        if (closed)
            ++deliveredWhileClosed;
        inside = false;
    }
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override { ++socketCloses; }
    void OnParameterSets(const ParameterSets&) override {}
    void OnServerPorts(std::uint16_t, std::uint16_t) override {}

    std::vector<std::uint16_t> Sequences()
    {
        std::lock_guard lock(m_mutex);
        return m_sequences;
    }
    std::vector<platform::SocketAddressV4> Sources()
    {
        std::lock_guard lock(m_mutex);
        return m_sources;
    }
    std::size_t Count() { return Sequences().size(); }

    // The next packet holds the delivery thread inside OnPacket until `release` is set.
    std::atomic<bool> blockFirst{false};
    CManualEvent release;
    CManualEvent entered;
    std::atomic<bool> inside{false};
    std::atomic<bool> closed{false};
    std::atomic<int> deliveredWhileClosed{0};
    std::atomic<int> socketCloses{0};

private:
    std::mutex m_mutex;
    std::vector<std::uint16_t> m_sequences;
    std::vector<platform::SocketAddressV4> m_sources;
};

class RtpReceiver : public ::testing::Test
{
protected:
    void SetUp() override { m_receiver.SetUser(&m_channel); }
    void TearDown() override { m_channel.release.Set(); }

    void Open()
    {
        ASSERT_TRUE(m_receiver.OpenReceiver(0, CRTPReceiver::kTransportModeUdp));
        m_port = m_receiver.GetLocalPort();
    }

    void Send(std::uint16_t sequence, std::size_t payloadBytes = 4)
    {
        m_peer.Send(m_port, RtpDatagram(sequence, payloadBytes));
    }

    // Packet 0 enters the channel and stays there until released.
    void BlockTheChannel()
    {
        m_channel.entered.Reset();
        m_channel.blockFirst = true;
        Send(0);
        ASSERT_TRUE(m_channel.entered.Wait(10000));
    }

    testing::RecordingOwner m_owner;
    RecordingChannel m_channel;
    CRTPReceiver m_receiver{&m_owner};
    testing::UdpPeer m_peer;
    std::uint16_t m_port = 0;
};

TEST_F(RtpReceiver, DeliversPacketsInArrivalOrderWithDuplicatesAndGaps)
{
    Open();
    EXPECT_EQ(m_receiver.GetThreadName(), "RTP Packet Queue (" + std::to_string(m_port) + ")");
    const std::vector<std::uint16_t> sent = {10, 11, 11, 13, 12, 65535, 0, 1, 1, 7};
    for (std::uint16_t sequence : sent)
    {
        Send(sequence);
        m_peer.Send(m_port, std::vector<std::uint8_t>(12, 0x80)); // header only: dropped unseen
    }
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() >= sent.size(); }));
    EXPECT_EQ(m_channel.Sequences(), sent);
    EXPECT_EQ(m_channel.Sources().front(), testing::Loopback(m_peer.Port()));
    EXPECT_EQ(m_receiver.GetDroppedPacketCount(), 0u) << "malformed datagrams are not queue drops";
}

// The reader holds a frame's packets back from the delivery thread until the frame ends; packets
// whose frame never ends must still go on long before the port's 2 s idle report would come.
TEST_F(RtpReceiver, HandsOnHeldPacketsSoonWhenNoFrameEndFollows)
{
    Open();
    const auto start = std::chrono::steady_clock::now();
    for (std::uint16_t sequence = 1; sequence <= 3; ++sequence)
        Send(sequence);
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() >= 3; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));

    std::vector<std::uint8_t> frameEnd = RtpDatagram(4);
    frameEnd[1] |= 0x80;
    m_peer.Send(m_port, frameEnd);
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() >= 4; }));
    EXPECT_EQ(m_channel.Sequences(), (std::vector<std::uint16_t>{1, 2, 3, 4}));
}

TEST_F(RtpReceiver, DropsAndCountsWhatExceedsThePacketBoundOrTheByteBudget)
{
    m_receiver.SetQueueLimits(8, CRTPReceiver::kDefaultQueueBytes);
    Open();
    BlockTheChannel();
    for (std::uint16_t sequence = 1; sequence <= 20; ++sequence)
        Send(sequence);
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.GetDroppedPacketCount() == 12; }));
    m_channel.release.Set();
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() == 9; }));
    EXPECT_EQ(m_channel.Sequences(), (std::vector<std::uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // Once the channel has caught up there is room again; now datagrams of 200 bytes, of
    // which three fit into 600.
    m_receiver.SetQueueLimits(CRTPReceiver::kDefaultQueuePackets, 600);
    m_channel.release.Reset();
    BlockTheChannel();
    for (std::uint16_t sequence = 21; sequence <= 30; ++sequence)
        Send(sequence, 188);
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.GetDroppedPacketCount() == 12 + 7; }));
    m_channel.release.Set();
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() == 13; }));
    EXPECT_EQ(m_channel.Sequences().back(), 23);
}

TEST_F(RtpReceiver, CloseWaitsForTheChannelToReturnAndDropsWhatIsQueued)
{
    m_receiver.SetQueueLimits(5, CRTPReceiver::kDefaultQueueBytes);
    Open();
    BlockTheChannel();
    // The sixth is dropped, so the five before it are queued.
    for (std::uint16_t sequence = 1; sequence <= 6; ++sequence)
        Send(sequence);
    ASSERT_TRUE(WaitUntil([&] { return m_receiver.GetDroppedPacketCount() == 1; }));

    std::thread releaser(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            m_channel.release.Set();
        });
    m_receiver.CloseReceiver();
    EXPECT_FALSE(m_channel.inside) << "the close returned while the channel was inside OnPacket";
    releaser.join();
    EXPECT_EQ(m_channel.Count(), 1u) << "queued packets never survive a close";
    EXPECT_EQ(m_channel.socketCloses, 1);
    EXPECT_EQ(m_receiver.GetLocalPort(), 0);
    EXPECT_TRUE(m_owner.Lines().empty()) << "stopped in time, without a termination";
}

TEST_F(RtpReceiver, ClosesAndReopensWhileDatagramsFlow)
{
    Open();
    const std::uint16_t port = m_port;
    std::atomic<bool> sending{true};
    std::thread flood(
        [&]
        {
            testing::UdpPeer peer;
            for (std::uint16_t sequence = 0; sending; ++sequence)
                peer.Send(port, RtpDatagram(sequence, 1000));
        });
    // The windows are long enough for the reading thread to start under Wine as well; every close
    // comes while packets reach the channel.
    const auto window = std::chrono::milliseconds(15);
    for (int round = 0; round < 20; ++round)
    {
        const std::size_t atOpen = m_channel.Count();
        std::this_thread::sleep_for(window);
        ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() > atOpen; })) << "round " << round;
        m_receiver.CloseReceiver();
        // Between a close and the next open nothing may reach the channel.
        m_channel.closed = true;
        std::this_thread::sleep_for(window);
        m_channel.closed = false;
        ASSERT_TRUE(m_receiver.OpenReceiver(port, CRTPReceiver::kTransportModeUdp)) << "round " << round;
    }
    m_receiver.CloseReceiver();
    m_channel.closed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    sending = false;
    flood.join();
    EXPECT_EQ(m_channel.deliveredWhileClosed, 0);
    EXPECT_TRUE(m_owner.Lines().empty()) << "every thread stopped in time";
}

TEST_F(RtpReceiver, FailsCleanlyOnAPortInUseAndWithoutUdp)
{
    Open();
    RecordingChannel otherChannel;
    CRTPReceiver other(&m_owner);
    other.SetUser(&otherChannel);
    EXPECT_FALSE(other.OpenReceiver(m_port, CRTPReceiver::kTransportModeUdp));
    EXPECT_EQ(other.GetLocalPort(), 0);
    EXPECT_FALSE(other.OpenReceiver(0, 1)) << "interleaved transport opens no port";
    EXPECT_EQ(other.GetLocalPort(), 0);

    // The first receiver keeps its port and its stream.
    Send(1);
    ASSERT_TRUE(WaitUntil([&] { return m_channel.Count() == 1; }));
    EXPECT_EQ(otherChannel.Count(), 0u);
    EXPECT_EQ(otherChannel.socketCloses, 0);
}
}
}
