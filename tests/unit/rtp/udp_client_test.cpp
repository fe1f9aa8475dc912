// A UDP port with its reading thread, against a real peer on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "rtp/udp_client.h"
#include "support/recording_owner.h"
#include "udp_test_support.h"

namespace kestrav
{
namespace
{
using testing::Loopback;
using testing::WaitUntil;

class RecordingClientUser : public IRTPClientUser
{
public:
    void OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                    std::span<const std::uint8_t> bytes) override
    {
        std::lock_guard lock(m_mutex);
        EXPECT_EQ(client, expectedClient);
        senders.push_back(sender);
        datagrams.emplace_back(bytes.begin(), bytes.end());
    }
    void OnIdle(IRTPClient*) override { ++idles; }
    void OnClosed(IRTPClient*) override { ++closes; }

    std::size_t Count()
    {
        std::lock_guard lock(m_mutex);
        return datagrams.size();
    }
    // Those after the first `skip`.
    std::vector<std::vector<std::uint8_t>> DatagramsAfter(std::size_t skip)
    {
        std::lock_guard lock(m_mutex);
        return {datagrams.begin() + static_cast<std::ptrdiff_t>(std::min(skip, datagrams.size())), datagrams.end()};
    }

    IRTPClient* expectedClient = nullptr;
    std::vector<platform::SocketAddressV4> senders;
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::atomic<int> idles{0};
    std::atomic<int> closes{0};

private:
    std::mutex m_mutex;
};

class UdpClient : public ::testing::Test
{
protected:
    void SetUp() override { m_user.expectedClient = &m_client; }

    // Sends `datagram` until it arrives whole, each copy followed by `marker`: once the marker is
    // in, the copy before it has been read, whether it fit or not. The copies lost.
    std::size_t LostBeforeOneFits(const std::vector<std::uint8_t>& datagram, const std::vector<std::uint8_t>& marker)
    {
        for (std::size_t lost = 0; lost < 20; ++lost)
        {
            const std::size_t before = m_user.Count();
            m_peer.Send(m_client.GetPort(), datagram);
            m_peer.Send(m_client.GetPort(), marker);
            std::vector<std::vector<std::uint8_t>> arrived;
            if (!WaitUntil(
                    [&]
                    {
                        arrived = m_user.DatagramsAfter(before);
                        return !arrived.empty() && arrived.back() == marker;
                    }))
                break;
            if (arrived.size() == 2)
            {
                EXPECT_EQ(arrived.front(), datagram);
                return lost;
            }
        }
        ADD_FAILURE() << "no copy of " << datagram.size() << " bytes arrived";
        return 0;
    }

    bool HasLogged(const std::string& text)
    {
        const auto lines = m_owner.Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const testing::LoggedLine& line) { return line.text.find(text) != std::string::npos; });
    }

    testing::RecordingOwner m_owner;
    RecordingClientUser m_user;
    CUDPClient m_client{&m_owner};
    testing::UdpPeer m_peer;
};

TEST_F(UdpClient, HandsEachDatagramToItsUserWithTheSender)
{
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    const std::uint16_t port = m_client.GetPort();
    EXPECT_EQ(m_client.GetThreadName(), "UDP client thread, port " + std::to_string(port));
    m_peer.Send(port, std::vector<std::uint8_t>{1, 2, 3});
    m_peer.Send(port, std::vector<std::uint8_t>{4});
    ASSERT_TRUE(WaitUntil([&] { return m_user.Count() == 2; }));
    EXPECT_EQ(m_user.datagrams, (std::vector<std::vector<std::uint8_t>>{{1, 2, 3}, {4}}));
    EXPECT_EQ(m_user.senders[0], Loopback(m_peer.Port()));
}

TEST_F(UdpClient, ReportsEverySelectPeriodWithoutData)
{
    m_client.SetSelectTimeout(0, 20000); // 20 ms
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    EXPECT_TRUE(WaitUntil([&] { return m_user.idles >= 3; }));
}

TEST_F(UdpClient, GrowsItsBufferToADatagramThatDidNotFitAtOnce)
{
    m_client.SetBufferSize(1024);
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    // The small datagram read with a lost one arrives. One large datagram at a time: two of those
    // may not fit the socket's own buffer together.
    const std::vector<std::uint8_t> large(3500, 0x33), largest(65507, 0x44), small{9};
    const std::size_t lostLarge = LostBeforeOneFits(large, small);
    const std::size_t lostLargest = LostBeforeOneFits(largest, small);
#if defined(_WIN32)
    // Winsock does not tell the length of a datagram that did not fit, so the buffer doubles
    // until one does: from 1024 bytes to the largest UDP carries takes six doublings in all.
    EXPECT_GE(lostLarge, 1u);
    EXPECT_GE(lostLargest, 1u);
    EXPECT_LE(lostLarge + lostLargest, 6u);
#else
    // Linux tells the length: only the datagram read before the buffer grew is lost, up to the
    // largest datagram UDP carries.
    EXPECT_EQ(lostLarge, 1u);
    EXPECT_EQ(lostLargest, 1u);
#endif
}

TEST_F(UdpClient, OpensOnceAndTellsItsUserOnceWhenClosed)
{
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    const std::uint16_t port = m_client.GetPort();
    RecordingClientUser other;
    EXPECT_FALSE(m_client.OpenPort(&other, 0));
    EXPECT_EQ(m_client.GetPort(), port) << "a failed open changes nothing";

    EXPECT_TRUE(m_client.ClosePort());
    m_client.ClosePort();
    EXPECT_EQ(m_client.GetPort(), 0);
    EXPECT_EQ(m_user.closes, 1);
    EXPECT_EQ(other.closes, 0);

    // The port is free again, and a new thread reads it.
    ASSERT_TRUE(m_client.OpenPort(&m_user, port));
    m_peer.Send(port, std::vector<std::uint8_t>{1});
    EXPECT_TRUE(WaitUntil([&] { return m_user.Count() == 1; }));
}

TEST_F(UdpClient, SendsOnlyWhileOpen)
{
    const std::vector<std::uint8_t> report = {0x81, 0xC9, 0x00, 0x07, 1, 2, 3, 4};
    EXPECT_FALSE(m_client.SendTo(report, Loopback(m_peer.Port())));
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    EXPECT_TRUE(m_client.SendTo(report, Loopback(m_peer.Port())));
    EXPECT_EQ(m_peer.Receive(), report);
    m_client.ClosePort();
    EXPECT_FALSE(m_client.SendTo(report, Loopback(m_peer.Port())));
}

TEST_F(UdpClient, ClosingWakesTheReaderWhateverItsSelectPeriod)
{
    m_client.SetSelectTimeout(600, 0);
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // let it block
    EXPECT_TRUE(m_client.ClosePort());
    EXPECT_TRUE(m_owner.Lines().empty()) << "stopped in time, without a termination";
}

TEST_F(UdpClient, AReaderBlockedInItsSocketWaitIsTerminated)
{
    // Nothing arrives and nothing shuts the socket down: only a termination ends the wait.
    m_client.SetSelectTimeout(600, 0);
    ASSERT_TRUE(m_client.OpenPort(&m_user, 0));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    m_client.StopThread(50);
    EXPECT_TRUE(HasLogged("will be terminated!"));
    EXPECT_FALSE(HasLogged("is left running")) << "the reader must unwind within its grace";
}
}
}
