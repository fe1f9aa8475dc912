// What the tests' own peers need of sockets beyond the module's platform layer (listening, accepting,
// binding to one loopback address, waiting on several sockets), for POSIX and Winsock alike. The
// sockets are the platform layer's handles, so everything else is done with its calls.
// Test support only: it talks to the operating system directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace kestrav::testing
{
// Winsock's start-up, once for the whole test program and never cleaned up, so that it stays out of
// the module's own count of start-ups. Nothing to do on POSIX. The calls below make it themselves.
void EnsureSocketsStarted();

// `dotted` ("127.0.0.2") and `port` (host order) as a socket address.
platform::SocketAddressV4 SocketAddress(const char* dotted, std::uint16_t port);
// 127.0.0.1 and `port`.
platform::SocketAddressV4 Loopback(std::uint16_t port);

// A UDP socket bound to a free port of `localAddress` (a sender the module must tell apart from the
// camera binds to 127.0.0.2); kInvalidSocket on failure, and also when its datagrams would not leave
// from that address: Wine binds a UDP socket to the interface rather than the address, so that under
// Wine a "127.0.0.2" sender still sends from 127.0.0.1 and cannot play a stranger.
platform::SocketHandle OpenUdpSocket(const char* localAddress = "127.0.0.1");

// A TCP socket listening on a free port of 127.0.0.1 (platform::GetSocketLocalPort tells which);
// kInvalidSocket on failure.
platform::SocketHandle OpenTcpListener(int backlog = 4);
// The next connection of a listener, or kInvalidSocket when none comes within `wait`.
platform::SocketHandle AcceptConnection(platform::SocketHandle listener, std::chrono::milliseconds wait);

// A blocking TCP connection to 127.0.0.1:`port`; kInvalidSocket on failure, with the reason in
// `error` (a Winsock number such as platform::kSocketErrorConnectionRefused) when given.
platform::SocketHandle ConnectLoopback(std::uint16_t port, int* error = nullptr);

// Sends all of `bytes` on a connected socket; false when the connection failed first.
bool SendAll(platform::SocketHandle socket, std::string_view bytes);

// Waits up to `wait` until one of `sockets` can be read (data, end or error); sets `readable`, of the
// same length, for each. The number of readable sockets, 0 after the wait, -1 on failure.
int WaitForReadable(std::span<const platform::SocketHandle> sockets, std::span<bool> readable,
                    std::chrono::milliseconds wait);

// Appends what a connected socket has within `wait`: the bytes read, 0 when the peer closed the
// connection, or -1 on failure or after the wait.
int ReceiveInto(platform::SocketHandle socket, std::string& bytes, std::chrono::milliseconds wait);

// A port of 127.0.0.1 that nothing listens on: bound once to learn a free number, then closed.
std::uint16_t ClosedPort();
}
