#include "test_sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <cstring>
#include <vector>

namespace kestrav::testing
{
namespace
{
#if defined(_WIN32)
using Native = SOCKET;
using PollEntry = WSAPOLLFD;
int PollSockets(PollEntry* entries, std::size_t count, int milliseconds)
{
    return WSAPoll(entries, static_cast<ULONG>(count), milliseconds);
}
#else
using Native = int;
using PollEntry = pollfd;
int PollSockets(PollEntry* entries, std::size_t count, int milliseconds)
{
    return poll(entries, static_cast<nfds_t>(count), milliseconds);
}
#endif

// The platform layer's handle is the native socket itself, as Winsock's SOCKET is.
Native ToNative(platform::SocketHandle socket)
{
    return static_cast<Native>(static_cast<std::uintptr_t>(socket));
}

platform::SocketHandle ToHandle(Native socket)
{
    return static_cast<platform::SocketHandle>(static_cast<std::uintptr_t>(socket));
}

sockaddr_in ToSockaddr(const platform::SocketAddressV4& address)
{
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.address;
    return native;
}

bool Bind(platform::SocketHandle socket, const platform::SocketAddressV4& address)
{
    const sockaddr_in local = ToSockaddr(address);
    return bind(ToNative(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}
}

void EnsureSocketsStarted()
{
#if defined(_WIN32)
    static const bool started = []
    {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
}

platform::SocketAddressV4 SocketAddress(const char* dotted, std::uint16_t port)
{
    std::uint32_t address = 0;
    inet_pton(AF_INET, dotted, &address);
    return platform::MakeSocketAddressV4(address, port);
}

platform::SocketAddressV4 Loopback(std::uint16_t port)
{
    return SocketAddress("127.0.0.1", port);
}

namespace
{
// True when a datagram of `socket` reaches a receiver on 127.0.0.1 from `local`.
bool SendsFrom(platform::SocketHandle socket, const platform::SocketAddressV4& local)
{
    const platform::SocketHandle receiver = OpenUdpSocket();
    const std::uint8_t probe[1] = {0};
    platform::SocketAddressV4 sender{};
    std::uint8_t buffer[16];
    const bool arrived = platform::SendToSocket(socket, probe, Loopback(platform::GetSocketLocalPort(receiver))) == 1 &&
                         platform::WaitForSocketReadable(receiver, 2000) == platform::WaitResult::Signaled &&
                         platform::ReceiveFromSocket(receiver, buffer, &sender) == 1;
    platform::CloseSocket(receiver);
    return arrived && sender.address == local.address;
}
}

platform::SocketHandle OpenUdpSocket(const char* localAddress)
{
    EnsureSocketsStarted();
    const platform::SocketAddressV4 local = SocketAddress(localAddress, 0);
    const platform::SocketHandle socket = platform::CreateSocket(platform::SocketKind::Udp);
    if (socket == platform::kInvalidSocket)
        return socket;
    if (!Bind(socket, local) || (local != Loopback(0) && !SendsFrom(socket, local)))
    {
        platform::CloseSocket(socket);
        return platform::kInvalidSocket;
    }
    return socket;
}

platform::SocketHandle OpenTcpListener(int backlog)
{
    EnsureSocketsStarted();
    const platform::SocketHandle socket = platform::CreateSocket(platform::SocketKind::Tcp);
    if (socket == platform::kInvalidSocket)
        return socket;
    if (!Bind(socket, Loopback(0)) || listen(ToNative(socket), backlog) != 0)
    {
        platform::CloseSocket(socket);
        return platform::kInvalidSocket;
    }
    return socket;
}

platform::SocketHandle AcceptConnection(platform::SocketHandle listener, std::chrono::milliseconds wait)
{
    bool readable = false;
    if (WaitForReadable({&listener, 1}, {&readable, 1}, wait) <= 0)
        return platform::kInvalidSocket;
    const Native client = accept(ToNative(listener), nullptr, nullptr);
#if defined(_WIN32)
    if (client == INVALID_SOCKET)
#else
    if (client < 0)
#endif
        return platform::kInvalidSocket;
    return ToHandle(client);
}

platform::SocketHandle ConnectLoopback(std::uint16_t port, int* error)
{
    EnsureSocketsStarted();
    const platform::SocketHandle socket = platform::CreateSocket(platform::SocketKind::Tcp);
    if (socket != platform::kInvalidSocket && platform::ConnectSocket(socket, Loopback(port)) == 0)
        return socket;
    if (error != nullptr)
        *error = platform::LastSocketError();
    if (socket != platform::kInvalidSocket)
        platform::CloseSocket(socket);
    return platform::kInvalidSocket;
}

bool SendAll(platform::SocketHandle socket, std::string_view bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t sent = 0; sent < bytes.size();)
    {
        const int now = platform::SendSocket(socket, {data + sent, bytes.size() - sent});
        if (now <= 0)
            return false;
        sent += static_cast<std::size_t>(now);
    }
    return true;
}

int WaitForReadable(std::span<const platform::SocketHandle> sockets, std::span<bool> readable,
                    std::chrono::milliseconds wait)
{
    std::vector<PollEntry> entries(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i)
    {
        entries[i].fd = ToNative(sockets[i]);
        entries[i].events = POLLIN;
    }
    const int ready = PollSockets(entries.data(), entries.size(), static_cast<int>(wait.count()));
    for (std::size_t i = 0; i < sockets.size() && i < readable.size(); ++i)
        readable[i] = ready > 0 && (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return ready < 0 ? -1 : ready;
}

int ReceiveInto(platform::SocketHandle socket, std::string& bytes, std::chrono::milliseconds wait)
{
    std::uint8_t buffer[16384];
    const int got = platform::ReceiveSocket(socket, buffer, static_cast<std::uint32_t>(wait.count()));
    if (got > 0)
        bytes.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
    return got < 0 ? -1 : got;
}

std::uint16_t ClosedPort()
{
    const platform::SocketHandle socket = OpenTcpListener();
    const std::uint16_t port = platform::GetSocketLocalPort(socket);
    platform::CloseSocket(socket);
    return port;
}
}
