// The socket calls under the UDP port: Winsock error numbers where the reading loop depends
// on them, and a readability wait that ends when its thread is terminated.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "udp_test_support.h"

namespace kestrav::platform
{
namespace
{
using testing::Loopback;
using testing::UdpPeer;

TEST(Socket, ADatagramLongerThanTheBufferIsDroppedAsTooLong)
{
    UdpPeer receiver;
    UdpPeer peer;
    peer.Send(receiver.Port(), std::vector<std::uint8_t>(2000, 0xAB));
    peer.Send(receiver.Port(), std::vector<std::uint8_t>(100, 0xCD));

    std::vector<std::uint8_t> buffer(1536);
    std::size_t length = 1;
    EXPECT_EQ(ReceiveFromSocket(receiver.Handle(), buffer, nullptr, &length), kSocketFailure);
    EXPECT_EQ(LastSocketError(), kSocketErrorMessageTooLong);
#if defined(_WIN32)
    EXPECT_EQ(length, 0u) << "Winsock does not tell the length of what did not fit";
#else
    EXPECT_EQ(length, 2000u) << "Linux tells the length of what did not fit";
#endif
    SocketAddressV4 sender;
    EXPECT_EQ(ReceiveFromSocket(receiver.Handle(), buffer, &sender), 100);
    EXPECT_EQ(sender, Loopback(peer.Port()));
}

TEST(Socket, APortInUseCannotBeBoundTwice)
{
    UdpPeer holder;
    const SocketHandle second = CreateSocket(SocketKind::Udp);
    EXPECT_FALSE(BindSocket(second, holder.Port()));
    EXPECT_EQ(LastSocketError(), kSocketErrorAddressInUse);
    CloseSocket(second);
}

struct BlockedWait
{
    SocketHandle socket = kInvalidSocket;
    bool holdOffTermination = false;
    EventHandle entered = CreateEventObject(true, false);
    std::atomic<bool> returned{false};
    WaitResult result = WaitResult::Failed;
    ~BlockedWait() { CloseEventObject(entered); }
};

void WaitWithoutTimeOut(void* argument)
{
    auto* wait = static_cast<BlockedWait*>(argument);
    std::optional<NoTerminationScope> scope;
    if (wait->holdOffTermination)
        scope.emplace();
    SetEventObject(wait->entered);
    wait->result = WaitForSocketReadable(wait->socket, kInfinite);
    wait->returned = true;
}

TEST(Socket, ATerminatedThreadUnwindsFromAWaitWithoutTimeOut)
{
    UdpPeer idle;
    BlockedWait wait;
    wait.socket = idle.Handle();
    ThreadHandle thread = CreateModuleThread(WaitWithoutTimeOut, &wait, nullptr);
    ASSERT_EQ(WaitForEventObject(wait.entered, 5000), WaitResult::Signaled);
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // let it block in the wait

    EXPECT_TRUE(TerminateModuleThread(thread, 5000));
    CloseThreadHandle(thread);
    EXPECT_FALSE(wait.returned);
}

TEST(Socket, ATerminationHeldOffLeavesTheWaitToItsSocket)
{
    UdpPeer receiver;
    BlockedWait wait;
    wait.socket = receiver.Handle();
    wait.holdOffTermination = true;
    ThreadHandle thread = CreateModuleThread(WaitWithoutTimeOut, &wait, nullptr);
    ASSERT_EQ(WaitForEventObject(wait.entered, 5000), WaitResult::Signaled);

    EXPECT_FALSE(TerminateModuleThread(thread, 100));
    UdpPeer().Send(receiver.Port(), std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(WaitForThreadEnd(thread, 5000), WaitResult::Signaled);
    CloseThreadHandle(thread);
    EXPECT_EQ(wait.result, WaitResult::Signaled);
}
}
}
