// What a socket wait leaves behind and what ends it, where Winsock differs from BSD sockets: a wait
// must not change the socket's blocking mode (WSAEventSelect forces non-blocking), a shutdown must
// wake it (Winsock records no event for a datagram socket's), and an ICMP "port unreachable" for an
// earlier datagram must not fail the reads (Winsock reports it as WSAECONNRESET unless told not to).
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/sockets.h"
#include "platform/thread.h"
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

// A TCP listener on a free loopback port, with the OS's own calls: the platform layer has no listen.
class LoopbackListener
{
public:
    LoopbackListener() : m_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        EXPECT_EQ(::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        EXPECT_EQ(::listen(m_socket, 1), 0);
        EXPECT_EQ(::getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length), 0);
        m_port = ntohs(local.sin_port);
    }
    ~LoopbackListener()
    {
        Close(m_accepted);
        Close(m_socket);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t Port() const { return m_port; }
    void AcceptAndSend(const char* text)
    {
        m_accepted = ::accept(m_socket, nullptr, nullptr);
        ASSERT_GE(::send(m_accepted, text, static_cast<int>(std::strlen(text)), 0), 0);
    }

private:
#if defined(_WIN32)
    using Native = SOCKET;
    static void Close(Native socket)
    {
        closesocket(socket);
    }
#else
    using Native = int;
    static void Close(Native socket)
    {
        ::close(socket);
    }
#endif
    Native m_socket;
    Native m_accepted = static_cast<Native>(-1);
    std::uint16_t m_port = 0;
};

struct BlockedReceive
{
    SocketHandle socket = kInvalidSocket;
    EventHandle entered = CreateEventObject(true, false);
    std::atomic<bool> returned{false};
    ~BlockedReceive() { CloseEventObject(entered); }
};

void ReceiveWithoutTimeOut(void* argument)
{
    auto* receive = static_cast<BlockedReceive*>(argument);
    std::uint8_t buffer[16];
    SetEventObject(receive->entered);
    ReceiveSocket(receive->socket, buffer, kInfinite);
    receive->returned = true;
}

TEST_F(SocketWait, ConnectsReadsAndIsTerminatedInAReadWithoutTimeOut)
{
    LoopbackListener listener;
    const SocketHandle socket = CreateSocket(SocketKind::Tcp);
    ASSERT_TRUE(SetSocketNonBlocking(socket, true));
    if (ConnectSocket(socket, Loopback(listener.Port())) != 0)
    {
        EXPECT_EQ(LastSocketError(), kSocketErrorWouldBlock);
    }
    EXPECT_EQ(WaitForSocketConnected(socket, 5000), WaitResult::Signaled);
    ASSERT_TRUE(SetSocketNonBlocking(socket, false));
    listener.AcceptAndSend("hi");

    std::uint8_t buffer[16];
    EXPECT_EQ(ReceiveSocket(socket, buffer, 5000, true), 2);
    EXPECT_EQ(ReceiveSocket(socket, buffer, 5000), 2) << "a peek leaves the bytes queued";
    EXPECT_EQ(ReceiveSocket(socket, buffer, 20), kSocketFailure);
    EXPECT_EQ(LastSocketError(), kSocketErrorTimedOut);

    BlockedReceive receive;
    receive.socket = socket;
    ThreadHandle thread = CreateModuleThread(ReceiveWithoutTimeOut, &receive, nullptr);
    ASSERT_EQ(WaitForEventObject(receive.entered, 5000), WaitResult::Signaled);
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // let it block in the wait
    EXPECT_TRUE(TerminateModuleThread(thread, 5000));
    CloseThreadHandle(thread);
    EXPECT_FALSE(receive.returned);
    CloseSocket(socket);
}

TEST_F(SocketWait, ARefusedConnectFails)
{
    std::uint16_t closedPort = 0;
    {
        LoopbackListener gone;
        closedPort = gone.Port();
    }
    const SocketHandle socket = CreateSocket(SocketKind::Tcp);
    ASSERT_TRUE(SetSocketNonBlocking(socket, true));
    if (ConnectSocket(socket, Loopback(closedPort)) != 0 && LastSocketError() == kSocketErrorWouldBlock)
    {
        EXPECT_EQ(WaitForSocketConnected(socket, 10000), WaitResult::Failed);
    }
    EXPECT_EQ(LastSocketError(), kSocketErrorConnectionRefused);
    CloseSocket(socket);
}

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
