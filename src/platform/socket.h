// BSD-style sockets shaped after Winsock: an opaque handle, calls that report failure with
// kSocketFailure, and the reason read afterwards with LastSocketError() as a Winsock number.
#pragma once

#include <cstdint>
#include <span>

#include "platform/wait.h"

namespace kestrav::platform
{
// Opaque, as Winsock's SOCKET; kInvalidSocket when there is none.
enum class SocketHandle : std::uintptr_t
{
};
inline constexpr SocketHandle kInvalidSocket = static_cast<SocketHandle>(~std::uintptr_t{0});

// Returned by the calls that give a count, as Winsock's SOCKET_ERROR.
inline constexpr int kSocketFailure = -1;

// Winsock error numbers. Native errors without a counterpart are passed through unchanged
// (they are all far below 10000, so never mistaken for one of these).
inline constexpr int kSocketErrorInterrupted = 10004;         // WSAEINTR
inline constexpr int kSocketErrorBadHandle = 10009;           // WSAEBADF
inline constexpr int kSocketErrorAccessDenied = 10013;        // WSAEACCES
inline constexpr int kSocketErrorBadAddress = 10014;          // WSAEFAULT
inline constexpr int kSocketErrorInvalidArgument = 10022;     // WSAEINVAL
inline constexpr int kSocketErrorTooManySockets = 10024;      // WSAEMFILE
inline constexpr int kSocketErrorWouldBlock = 10035;          // WSAEWOULDBLOCK
inline constexpr int kSocketErrorInProgress = 10036;          // WSAEINPROGRESS
inline constexpr int kSocketErrorAlready = 10037;             // WSAEALREADY
inline constexpr int kSocketErrorNotSocket = 10038;           // WSAENOTSOCK
inline constexpr int kSocketErrorMessageTooLong = 10040;      // WSAEMSGSIZE
inline constexpr int kSocketErrorNoProtocolOption = 10042;    // WSAENOPROTOOPT
inline constexpr int kSocketErrorNotSupported = 10045;        // WSAEOPNOTSUPP
inline constexpr int kSocketErrorFamilyNotSupported = 10047;  // WSAEAFNOSUPPORT
inline constexpr int kSocketErrorAddressInUse = 10048;        // WSAEADDRINUSE
inline constexpr int kSocketErrorAddressNotAvailable = 10049; // WSAEADDRNOTAVAIL
inline constexpr int kSocketErrorNetworkDown = 10050;         // WSAENETDOWN
inline constexpr int kSocketErrorNetworkUnreachable = 10051;  // WSAENETUNREACH
inline constexpr int kSocketErrorConnectionAborted = 10053;   // WSAECONNABORTED
inline constexpr int kSocketErrorConnectionReset = 10054;     // WSAECONNRESET
inline constexpr int kSocketErrorNoBuffers = 10055;           // WSAENOBUFS
inline constexpr int kSocketErrorAlreadyConnected = 10056;    // WSAEISCONN
inline constexpr int kSocketErrorNotConnected = 10057;        // WSAENOTCONN
inline constexpr int kSocketErrorShutDown = 10058;            // WSAESHUTDOWN
inline constexpr int kSocketErrorTimedOut = 10060;            // WSAETIMEDOUT
inline constexpr int kSocketErrorConnectionRefused = 10061;   // WSAECONNREFUSED
inline constexpr int kSocketErrorHostUnreachable = 10065;     // WSAEHOSTUNREACH
inline constexpr int kSocketErrorNotInitialised = 10093;      // WSANOTINITIALISED

inline constexpr std::uint16_t kAddressFamilyIPv4 = 2; // AF_INET

// An IPv4 socket address laid out as sockaddr_in (16 bytes): what recvfrom reports and
// what the users of a socket compare and keep.
struct SocketAddressV4
{
    std::uint16_t family = 0;  // host order
    std::uint16_t port = 0;    // network order
    std::uint32_t address = 0; // network order
    std::uint8_t zero[8] = {};

    bool operator==(const SocketAddressV4&) const = default;
};
static_assert(sizeof(SocketAddressV4) == 16);

// `addressNetworkOrder` as the resolver gives it, `port` in host order.
SocketAddressV4 MakeSocketAddressV4(std::uint32_t addressNetworkOrder, std::uint16_t port);
// The port in host order.
std::uint16_t SocketAddressPort(const SocketAddressV4& address);

enum class SocketKind
{
    Udp,
    Tcp,
};

enum class SocketOption
{
    ReceiveBuffer,  // bytes
    SendBuffer,     // bytes
    ReceiveTimeout, // milliseconds; 0 waits forever
    SendTimeout,    // milliseconds; 0 waits forever
};

enum class SocketShutdown
{
    Receive,
    Send,
    Both,
};

// An IPv4 socket, or kInvalidSocket.
SocketHandle CreateSocket(SocketKind kind);
bool CloseSocket(SocketHandle socket);
// Ends reading, writing or both; also wakes a thread blocked on the socket.
bool ShutdownSocket(SocketHandle socket, SocketShutdown how);

bool SetSocketOption(SocketHandle socket, SocketOption option, std::uint32_t value);

// Binds to `port` on every local address. Address reuse stays off, so a port that another
// socket holds fails with kSocketErrorAddressInUse instead of sharing its datagrams. Port 0
// takes any free port.
bool BindSocket(SocketHandle socket, std::uint16_t port);
// The bound port in host order; 0 when unbound or on failure.
std::uint16_t GetSocketLocalPort(SocketHandle socket);

// Bytes received, or kSocketFailure. A datagram longer than `buffer` is dropped with
// kSocketErrorMessageTooLong, as Winsock does, rather than cut short unnoticed; then
// `datagramLength`, when given, is its real length where the OS tells it (Linux does), else 0.
int ReceiveFromSocket(SocketHandle socket, std::span<std::uint8_t> buffer, SocketAddressV4* sender,
                      std::size_t* datagramLength = nullptr);
// One slot of a batch read: the caller's buffer, and what the read put there.
struct ReceivedDatagram
{
    std::span<std::uint8_t> buffer;
    SocketAddressV4 sender{};
    // Bytes received; for a datagram longer than the buffer (dropped, `truncated`), its real
    // length where the OS tells it, else 0.
    std::size_t length = 0;
    bool truncated = false;
};

// Reads the datagrams already waiting, at most one per slot, in as few calls as the OS allows
// and without blocking. The number of slots filled (0 when nothing waits), or kSocketFailure.
int ReceiveDatagrams(SocketHandle socket, std::span<ReceivedDatagram> slots);

// Bytes sent, or kSocketFailure.
int SendToSocket(SocketHandle socket, std::span<const std::uint8_t> bytes, const SocketAddressV4& destination);

// Signaled when the socket can be read without blocking (data, a pending error or a
// shutdown), TimedOut, or Failed with LastSocketError(). A termination point on module
// threads.
WaitResult WaitForSocketReadable(SocketHandle socket, std::uint32_t milliseconds);

// Signaled when a connect under way has completed without error, TimedOut, or Failed with
// LastSocketError() (for example a refused connection). A termination point on module threads.
WaitResult WaitForSocketConnected(SocketHandle socket, std::uint32_t milliseconds);

bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking);

// 0 when connected; kSocketFailure otherwise, with kSocketErrorWouldBlock for a non-blocking
// connect that is under way.
int ConnectSocket(SocketHandle socket, const SocketAddressV4& destination);

// Bytes sent on a connected socket (perhaps fewer than given), or kSocketFailure.
int SendSocket(SocketHandle socket, std::span<const std::uint8_t> bytes);

// Waits up to `milliseconds` for data (a termination point on module threads), then reads what
// is there without blocking, at most the buffer's size; with `peek` the bytes stay queued.
// Bytes read, 0 when the peer closed the connection, or kSocketFailure (kSocketErrorTimedOut
// after the wait).
int ReceiveSocket(SocketHandle socket, std::span<std::uint8_t> buffer, std::uint32_t milliseconds, bool peek = false);

// The Winsock number of the calling thread's last failed socket call.
int LastSocketError();
}
