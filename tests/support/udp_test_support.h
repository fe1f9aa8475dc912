// A UDP peer on 127.0.0.1 and small helpers for the tests of the RTP port classes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "test_sockets.h"

namespace kestrav::testing
{
// The deadline only keeps a broken test from hanging; it never decides a passing one.
inline bool WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The far end: a socket on a free port of its own.
class UdpPeer
{
public:
    UdpPeer() : m_socket((EnsureSocketsStarted(), platform::CreateSocket(platform::SocketKind::Udp)))
    {
        EXPECT_TRUE(platform::BindSocket(m_socket, 0));
        EXPECT_TRUE(platform::SetSocketOption(m_socket, platform::SocketOption::ReceiveTimeout, 5000));
    }
    ~UdpPeer() { platform::CloseSocket(m_socket); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t Port() const { return platform::GetSocketLocalPort(m_socket); }
    platform::SocketHandle Handle() const { return m_socket; }

    void Send(std::uint16_t port, std::span<const std::uint8_t> bytes)
    {
        ASSERT_EQ(platform::SendToSocket(m_socket, bytes, Loopback(port)), static_cast<int>(bytes.size()));
    }

    // Empty after the receive time-out.
    std::vector<std::uint8_t> Receive()
    {
        std::vector<std::uint8_t> buffer(65535);
        const int received = platform::ReceiveFromSocket(m_socket, buffer, nullptr);
        buffer.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
        return buffer;
    }

private:
    platform::SocketHandle m_socket;
};

// V=2, PT=96, timestamp 3000, SSRC 0x11223344, then `payloadBytes` bytes of payload.
inline std::vector<std::uint8_t> RtpDatagram(std::uint16_t sequence, std::size_t payloadBytes = 4)
{
    std::vector<std::uint8_t> datagram = {0x80,
                                          0x60,
                                          static_cast<std::uint8_t>(sequence >> 8),
                                          static_cast<std::uint8_t>(sequence),
                                          0x00,
                                          0x00,
                                          0x0B,
                                          0xB8,
                                          0x11,
                                          0x22,
                                          0x33,
                                          0x44};
    datagram.resize(datagram.size() + payloadBytes, 0xA5);
    return datagram;
}
}
