// What a socket wait leaves behind and what ends it, where Winsock differs from BSD sockets: a wait
// must not change the socket's blocking mode (WSAEventSelect forces non-blocking), a shutdown must
// wake it (Winsock records no event for a datagram socket's), and an ICMP "port unreachable" for an
// earlier datagram must not fail the reads (Winsock reports it as WSAECONNRESET unless told not to).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "platform/sockets.h"
#include "udp_test_support.h"

namespace kestrav::platform
{
namespace
{
using testing::Loopback;
using testing::UdpPeer;

class SocketWait : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(StartSockets()); }
    void TearDown() override { CleanupSockets(); }
};

// Milliseconds a read of the idle socket takes before it fails.
long long MillisecondsOfAFailedRead(SocketHandle socket)
{
    std::vector<std::uint8_t> buffer(64);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveFromSocket(socket, buffer, nullptr), kSocketFailure);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(SocketWait, LeavesTheBlockingModeAsTheModuleSetIt)
{
    UdpPeer idle;
    ASSERT_TRUE(SetSocketOption(idle.Handle(), SocketOption::ReceiveTimeout, 300));
    EXPECT_EQ(WaitForSocketReadable(idle.Handle(), 20), WaitResult::TimedOut);
    EXPECT_GE(MillisecondsOfAFailedRead(idle.Handle()), 200) << "a blocking socket blocks after a wait";

    ASSERT_TRUE(SetSocketNonBlocking(idle.Handle(), true));
    EXPECT_EQ(WaitForSocketReadable(idle.Handle(), 20), WaitResult::TimedOut);
    EXPECT_LT(MillisecondsOfAFailedRead(idle.Handle()), 200);
    EXPECT_EQ(LastSocketError(), kSocketErrorWouldBlock) << "a non-blocking socket stays non-blocking";

    ASSERT_TRUE(SetSocketNonBlocking(idle.Handle(), false));
    EXPECT_GE(MillisecondsOfAFailedRead(idle.Handle()), 200);
}

TEST_F(SocketWait, AShutdownWakesAWait)
{
    UdpPeer idle;
    WaitResult result = WaitResult::Failed;
    std::chrono::steady_clock::duration waited{};
    std::thread waiter(
        [&]
        {
            const auto start = std::chrono::steady_clock::now();
            result = WaitForSocketReadable(idle.Handle(), 10000);
            waited = std::chrono::steady_clock::now() - start;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // let it block
    ShutdownSocket(idle.Handle(), SocketShutdown::Both);
    waiter.join();
    EXPECT_EQ(result, WaitResult::Signaled);
    EXPECT_LT(waited, std::chrono::seconds(5));
    std::vector<std::uint8_t> buffer(64);
    EXPECT_LE(ReceiveFromSocket(idle.Handle(), buffer, nullptr), 0) << "the read answers at once";
}

TEST_F(SocketWait, AnUnreachablePortOfAnEarlierDatagramFailsNoRead)
{
    UdpPeer receiver;
    std::uint16_t closedPort = 0;
    {
        UdpPeer gone;
        closedPort = gone.Port();
    }
    // The answer to this is an ICMP "port unreachable" queued on the receiver's socket.
    const std::vector<std::uint8_t> probe = {1};
    ASSERT_EQ(SendToSocket(receiver.Handle(), probe, Loopback(closedPort)), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    UdpPeer sender;
    sender.Send(receiver.Port(), std::vector<std::uint8_t>{7, 8, 9});

    ASSERT_EQ(WaitForSocketReadable(receiver.Handle(), 5000), WaitResult::Signaled);
    std::vector<std::uint8_t> storage(2 * 64);
    std::vector<ReceivedDatagram> slots(2);
    slots[0].buffer = std::span(storage.data(), 64);
    slots[1].buffer = std::span(storage.data() + 64, 64);
    int received = ReceiveDatagrams(receiver.Handle(), slots);
    if (received == 0) // the ICMP error alone was there at the first read
    {
        ASSERT_EQ(WaitForSocketReadable(receiver.Handle(), 5000), WaitResult::Signaled);
        received = ReceiveDatagrams(receiver.Handle(), slots);
    }
    ASSERT_EQ(received, 1) << "error " << LastSocketError();
    EXPECT_EQ(slots[0].length, 3u);
    EXPECT_EQ(slots[0].sender, Loopback(sender.Port()));
}
}
}
