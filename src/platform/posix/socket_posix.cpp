// BSD sockets behind the Winsock-shaped interface: descriptors as handles, errno mapped to
// Winsock numbers, and a readability wait that a thread termination interrupts.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "platform/posix/posix_time.h"
#include "platform/posix/wait_context.h"
#include "platform/socket.h"
#include "platform/socket_address_native.h"

namespace kestrav::platform
{
namespace
{
thread_local int t_lastSocketError = 0;

int ToWinsockError(int error)
{
    switch (error)
    {
    case EINTR:
        return kSocketErrorInterrupted;
    case EBADF:
        return kSocketErrorBadHandle;
    case EACCES:
    case EPERM:
        return kSocketErrorAccessDenied;
    case EFAULT:
        return kSocketErrorBadAddress;
    case EINVAL:
        return kSocketErrorInvalidArgument;
    case EMFILE:
    case ENFILE:
        return kSocketErrorTooManySockets;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return kSocketErrorWouldBlock;
    case EINPROGRESS:
        return kSocketErrorInProgress;
    case EALREADY:
        return kSocketErrorAlready;
    case ENOTSOCK:
        return kSocketErrorNotSocket;
    case EMSGSIZE:
        return kSocketErrorMessageTooLong;
    case ENOPROTOOPT:
        return kSocketErrorNoProtocolOption;
    case EOPNOTSUPP:
        return kSocketErrorNotSupported;
    case EAFNOSUPPORT:
        return kSocketErrorFamilyNotSupported;
    case EADDRINUSE:
        return kSocketErrorAddressInUse;
    case EADDRNOTAVAIL:
        return kSocketErrorAddressNotAvailable;
    case ENETDOWN:
        return kSocketErrorNetworkDown;
    case ENETUNREACH:
        return kSocketErrorNetworkUnreachable;
    case ECONNABORTED:
        return kSocketErrorConnectionAborted;
    case ECONNRESET:
        return kSocketErrorConnectionReset;
    case ENOBUFS:
    case ENOMEM:
        return kSocketErrorNoBuffers;
    case EISCONN:
        return kSocketErrorAlreadyConnected;
    case ENOTCONN:
        return kSocketErrorNotConnected;
    case EPIPE:
    case ESHUTDOWN:
        return kSocketErrorShutDown;
    case ETIMEDOUT:
        return kSocketErrorTimedOut;
    case ECONNREFUSED:
        return kSocketErrorConnectionRefused;
    case EHOSTUNREACH:
        return kSocketErrorHostUnreachable;
    default:
        return error;
    }
}

// Records errno as the thread's last socket error; returns `result` for tail calls.
template <typename Result> Result Fail(Result result)
{
    t_lastSocketError = ToWinsockError(errno);
    return result;
}

template <typename Result> Result Fail(Result result, int winsockError)
{
    t_lastSocketError = winsockError;
    return result;
}

int Descriptor(SocketHandle socket)
{
    return static_cast<int>(static_cast<std::uintptr_t>(socket));
}

bool IsValid(SocketHandle socket)
{
    return socket != kInvalidSocket && static_cast<std::uintptr_t>(socket) <= 0x7FFFFFFFu;
}

int RemainingMilliseconds(const timespec& deadline)
{
    const timespec now = posix::MonotonicNow();
    // Rounded up, so that poll never returns just before the deadline and is called again
    // with nothing left to wait.
    const long long nanoseconds = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000000000 +
                                  (static_cast<long long>(deadline.tv_nsec) - now.tv_nsec);
    const long long remaining = (nanoseconds + 999999) / 1000000;
    return static_cast<int>(std::clamp<long long>(remaining, 0, 0x7FFFFFFF));
}
}

SocketHandle CreateSocket(SocketKind kind)
{
    const int type = kind == SocketKind::Udp ? SOCK_DGRAM : SOCK_STREAM;
    const int protocol = kind == SocketKind::Udp ? IPPROTO_UDP : IPPROTO_TCP;
    // Close-on-exec: a process the host starts must not inherit the camera's ports.
    const int descriptor = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (descriptor < 0)
        return Fail(kInvalidSocket);
    return static_cast<SocketHandle>(static_cast<std::uintptr_t>(descriptor));
}

bool CloseSocket(SocketHandle socket)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    // On Linux the descriptor is released even when close reports EINTR; never retry.
    if (close(Descriptor(socket)) != 0 && errno != EINTR)
        return Fail(false);
    return true;
}

bool ShutdownSocket(SocketHandle socket, SocketShutdown how)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    const int native = how == SocketShutdown::Receive ? SHUT_RD : how == SocketShutdown::Send ? SHUT_WR : SHUT_RDWR;
    // An unconnected datagram socket reports ENOTCONN, yet is shut down and its waiters woken.
    if (shutdown(Descriptor(socket), native) != 0)
        return Fail(false);
    return true;
}

bool SetSocketOption(SocketHandle socket, SocketOption option, std::uint32_t value)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    int result = -1;
    switch (option)
    {
    case SocketOption::ReceiveBuffer:
    case SocketOption::SendBuffer:
    {
        const int bytes = static_cast<int>(std::min<std::uint32_t>(value, 0x7FFFFFFF));
        const int name = option == SocketOption::ReceiveBuffer ? SO_RCVBUF : SO_SNDBUF;
        result = setsockopt(Descriptor(socket), SOL_SOCKET, name, &bytes, sizeof bytes);
        break;
    }
    case SocketOption::ReceiveTimeout:
    case SocketOption::SendTimeout:
    {
        timeval timeout{};
        timeout.tv_sec = static_cast<time_t>(value / 1000);
        timeout.tv_usec = static_cast<suseconds_t>(value % 1000 * 1000);
        const int name = option == SocketOption::ReceiveTimeout ? SO_RCVTIMEO : SO_SNDTIMEO;
        result = setsockopt(Descriptor(socket), SOL_SOCKET, name, &timeout, sizeof timeout);
        break;
    }
    }
    if (result != 0)
        return Fail(false);
    return true;
}

bool BindSocket(SocketHandle socket, std::uint16_t port)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    // Off by default on Linux; said explicitly because with it two UDP sockets could share
    // a port and split a camera's stream between them.
    const int reuse = 0;
    if (setsockopt(Descriptor(socket), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
        return Fail(false);
    const sockaddr_in local = ToSockaddrIn<sockaddr_in>(MakeSocketAddressV4(htonl(INADDR_ANY), port));
    if (bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail(false);
    return true;
}

std::uint16_t GetSocketLocalPort(SocketHandle socket)
{
    if (!IsValid(socket))
        return Fail(std::uint16_t{0}, kSocketErrorNotSocket);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return Fail(std::uint16_t{0});
    if (local.sin_family != AF_INET)
        return Fail(std::uint16_t{0}, kSocketErrorFamilyNotSupported);
    return ntohs(local.sin_port);
}

int ReceiveFromSocket(SocketHandle socket, std::span<std::uint8_t> buffer, SocketAddressV4* sender,
                      std::size_t* datagramLength)
{
    if (datagramLength != nullptr)
        *datagramLength = 0;
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const std::size_t capacity = std::min<std::size_t>(buffer.size(), 0x7FFFFFFF);
    // MSG_TRUNC makes a datagram socket return the datagram's real length, so that a cut
    // one can be told from a whole one.
    ssize_t received;
    do
    {
        received = recvfrom(Descriptor(socket), buffer.data(), capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                            &fromLength);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return Fail(kSocketFailure);
    if (static_cast<std::size_t>(received) > capacity)
    {
#if defined(__linux__)
        if (datagramLength != nullptr)
            *datagramLength = static_cast<std::size_t>(received);
#endif
        return Fail(kSocketFailure, kSocketErrorMessageTooLong);
    }
    if (sender != nullptr)
        *sender = SenderOf(from, fromLength);
    return static_cast<int>(received);
}

int ReceiveDatagrams(SocketHandle socket, std::span<ReceivedDatagram> slots)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    constexpr std::size_t kMaximumBatch = 64;
    const std::size_t count = std::min(slots.size(), kMaximumBatch);
    std::array<mmsghdr, kMaximumBatch> messages{};
    std::array<iovec, kMaximumBatch> vectors{};
    std::array<sockaddr_in, kMaximumBatch> senders{};
    for (std::size_t i = 0; i < count; ++i)
    {
        vectors[i] = {slots[i].buffer.data(), std::min<std::size_t>(slots[i].buffer.size(), 0x7FFFFFFF)};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof senders[i];
    }
    int received;
    do
    {
        // One call for the whole batch; MSG_TRUNC gives a cut datagram's real length.
        received = recvmmsg(Descriptor(socket), messages.data(), static_cast<unsigned>(count), MSG_DONTWAIT | MSG_TRUNC,
                            nullptr);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : Fail(kSocketFailure);
    for (std::size_t i = 0; i < static_cast<std::size_t>(received); ++i)
    {
        ReceivedDatagram& slot = slots[i];
        const msghdr& header = messages[i].msg_hdr;
        slot.length = messages[i].msg_len;
        slot.truncated = (header.msg_flags & MSG_TRUNC) != 0 || slot.length > vectors[i].iov_len;
        slot.sender = SenderOf(senders[i], header.msg_namelen);
    }
    return received;
}

int SendToSocket(SocketHandle socket, std::span<const std::uint8_t> bytes, const SocketAddressV4& destination)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    if (bytes.size() > 0x7FFFFFFF)
        return Fail(kSocketFailure, kSocketErrorMessageTooLong);
    const sockaddr_in to = ToSockaddrIn<sockaddr_in>(destination);
    ssize_t sent;
    do
    {
        // No SIGPIPE: a signal would go to the host's process.
        sent = sendto(Descriptor(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return Fail(kSocketFailure);
    return static_cast<int>(sent);
}

namespace
{
// Waits for `events` on the socket. A termination point on module threads.
WaitResult WaitForSocketEvents(SocketHandle socket, short events, std::uint32_t milliseconds)
{
    if (!IsValid(socket))
        return Fail(WaitResult::Failed, kSocketErrorNotSocket);
    const bool forever = milliseconds == kInfinite;
    const timespec deadline = posix::DeadlineAfter(forever ? 0 : milliseconds);
    for (;;)
    {
        // Asked again on every pass: it throws once the thread is terminated.
        const int wake = posix::TerminationWakeDescriptor();
        int timeout = forever ? -1 : RemainingMilliseconds(deadline);
        if (wake == posix::kTerminationWakeUnavailable)
        {
            const int slice = static_cast<int>(posix::kTerminationPollSliceMilliseconds);
            timeout = timeout < 0 ? slice : std::min(timeout, slice);
        }
        pollfd watched[2] = {{Descriptor(socket), events, 0}, {wake, POLLIN, 0}};
        const nfds_t count = wake >= 0 ? 2 : 1;
        const int ready = poll(watched, count, timeout);
        if (ready < 0)
        {
            if (errno == EINTR)
                continue;
            return Fail(WaitResult::Failed);
        }
        if ((watched[0].revents & POLLNVAL) != 0)
            return Fail(WaitResult::Failed, kSocketErrorNotSocket);
        // An error or a hang-up counts too: the next call on the socket reports it.
        if ((watched[0].revents & (events | POLLERR | POLLHUP)) != 0)
            return WaitResult::Signaled;
        // The wake descriptor fired, a slice ended, or the time-out passed: the next pass
        // throws when the thread has been terminated.
        if (!forever && posix::DeadlinePassed(deadline))
        {
            posix::TerminationWakeDescriptor();
            return Fail(WaitResult::TimedOut, kSocketErrorTimedOut);
        }
    }
}
}

WaitResult WaitForSocketReadable(SocketHandle socket, std::uint32_t milliseconds)
{
    return WaitForSocketEvents(socket, POLLIN, milliseconds);
}

WaitResult WaitForSocketConnected(SocketHandle socket, std::uint32_t milliseconds)
{
    const WaitResult result = WaitForSocketEvents(socket, POLLOUT, milliseconds);
    if (result != WaitResult::Signaled)
        return result;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return Fail(WaitResult::Failed);
    if (error != 0)
        return Fail(WaitResult::Failed, ToWinsockError(error));
    return WaitResult::Signaled;
}

bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    const int flags = fcntl(Descriptor(socket), F_GETFL, 0);
    if (flags < 0)
        return Fail(false);
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(Descriptor(socket), F_SETFL, wanted) != 0)
        return Fail(false);
    return true;
}

int ConnectSocket(SocketHandle socket, const SocketAddressV4& destination)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const sockaddr_in to = ToSockaddrIn<sockaddr_in>(destination);
    if (connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return 0;
    // A non-blocking connect under way is Winsock's would-block.
    if (errno == EINPROGRESS)
        return Fail(kSocketFailure, kSocketErrorWouldBlock);
    return Fail(kSocketFailure);
}

int SendSocket(SocketHandle socket, std::span<const std::uint8_t> bytes)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const std::size_t length = std::min<std::size_t>(bytes.size(), 0x7FFFFFFF);
    ssize_t sent;
    do
    {
        // No SIGPIPE: a signal would go to the host's process.
        sent = send(Descriptor(socket), bytes.data(), length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return Fail(kSocketFailure);
    return static_cast<int>(sent);
}

int ReceiveSocket(SocketHandle socket, std::span<std::uint8_t> buffer, std::uint32_t milliseconds, bool peek)
{
    if (buffer.empty())
        return 0;
    if (WaitForSocketReadable(socket, milliseconds) != WaitResult::Signaled)
        return kSocketFailure;
    const std::size_t capacity = std::min<std::size_t>(buffer.size(), 0x7FFFFFFF);
    ssize_t received;
    do
    {
        received = recv(Descriptor(socket), buffer.data(), capacity, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return Fail(kSocketFailure);
    return static_cast<int>(received);
}

int LastSocketError()
{
    return t_lastSocketError;
}
}
