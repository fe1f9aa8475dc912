// Winsock 2 behind the socket interface. Blocking waits select the socket's network events into an
// event object and wait on it together with the thread's termination event, so a terminated thread
// is woken at once rather than at the end of a polling slice.
#include "platform/win32/wait_context_win32.h"

#include <mswsock.h>

#include <algorithm>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/socket_address_native.h"
#include "platform/win32/socket_registry_win32.h"

namespace kestrav::platform
{
namespace
{
thread_local int t_lastSocketError = 0;

// Records Winsock's error as the thread's last socket error; returns `result` for tail calls. Kept
// apart from WSAGetLastError, which any later Win32 call on the way out may overwrite.
template <typename Result> Result Fail(Result result)
{
    t_lastSocketError = WSAGetLastError();
    return result;
}

template <typename Result> Result Fail(Result result, int winsockError)
{
    t_lastSocketError = winsockError;
    return result;
}

SOCKET Native(SocketHandle socket)
{
    return static_cast<SOCKET>(static_cast<std::uintptr_t>(socket));
}

bool IsValid(SocketHandle socket)
{
    return socket != kInvalidSocket;
}

// An ICMP "port unreachable" for an earlier datagram of ours, or a "TTL expired": Winsock fails the
// next read of the datagram socket with these unless told not to; neither concerns the datagrams
// waiting, so the reads skip them.
bool IsStaleDatagramError(int error)
{
    return error == WSAECONNRESET || error == WSAENETRESET;
}

// Makes a datagram socket blind to the ICMP errors above where Windows allows it.
void IgnoreIcmpErrors(SOCKET socket)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(socket, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

enum class Readiness
{
    Ready,
    NotYet,
    ConnectFailed,
    Failed,
};

enum class WaitKind
{
    Readable,
    Connected,
};

enum class SocketWait
{
    Ready,
    ConnectFailed,
    TimedOut,
    Failed, // with the thread's last socket error set
};

// The socket's state now, by a select that does not wait: the readiness of a socket whose events
// were recorded before the wait selected them.
Readiness ReadinessNow(SOCKET socket, WaitKind kind)
{
    fd_set primary;
    fd_set failed;
    FD_ZERO(&primary);
    FD_ZERO(&failed);
    FD_SET(socket, &primary);
    FD_SET(socket, &failed);
    timeval now{};
    const int ready = kind == WaitKind::Readable ? select(0, &primary, nullptr, nullptr, &now)
                                                 : select(0, nullptr, &primary, &failed, &now);
    if (ready == SOCKET_ERROR)
        return Fail(Readiness::Failed);
    if (kind == WaitKind::Connected && FD_ISSET(socket, &failed))
        return Readiness::ConnectFailed;
    if (FD_ISSET(socket, &primary) || (kind == WaitKind::Readable && win32::IsSocketReceiveShutDown(socket)))
        return Readiness::Ready;
    return Readiness::NotYet;
}

// The selection of the socket's events into `event` for one wait; undone also when the wait unwinds.
class EventSelection
{
public:
    EventSelection(SOCKET socket, WSAEVENT event, long events) : m_socket(socket)
    {
        if (event == WSA_INVALID_EVENT)
            return;
        m_ticket = win32::BeginSocketWait(socket, event);
        if (m_ticket != 0 && WSAEventSelect(socket, event, events) != 0)
        {
            win32::EndSocketWait(m_socket, m_ticket);
            m_ticket = 0;
        }
    }
    ~EventSelection()
    {
        if (m_ticket != 0)
            win32::EndSocketWait(m_socket, m_ticket);
    }
    EventSelection(const EventSelection&) = delete;
    EventSelection& operator=(const EventSelection&) = delete;

    bool Selected() const { return m_ticket != 0; }

private:
    SOCKET m_socket;
    std::uint64_t m_ticket = 0;
};

class WsaEvent
{
public:
    WsaEvent() : m_event(WSACreateEvent()) {}
    ~WsaEvent()
    {
        if (m_event != WSA_INVALID_EVENT)
            WSACloseEvent(m_event);
    }
    WsaEvent(const WsaEvent&) = delete;
    WsaEvent& operator=(const WsaEvent&) = delete;

    WSAEVENT Get() const { return m_event; }

private:
    WSAEVENT m_event;
};

SocketWait Decided(Readiness readiness)
{
    switch (readiness)
    {
    case Readiness::Ready:
        return SocketWait::Ready;
    case Readiness::ConnectFailed:
        return SocketWait::ConnectFailed;
    default:
        return SocketWait::Failed;
    }
}

// Where no event could be selected (out of resources, or a socket this layer did not create), the
// wait falls back to short select slices between which the termination is checked.
constexpr std::uint32_t kFallbackSliceMilliseconds = 50;

std::uint32_t Remaining(std::uint64_t deadline, bool forever)
{
    if (forever)
        return kInfinite - 1;
    const std::uint64_t now = MonotonicMilliseconds();
    return now >= deadline ? 0 : static_cast<std::uint32_t>(deadline - now);
}

// Waits for the socket to be readable or its connect to end. A termination point on module threads.
SocketWait WaitForSocket(SocketHandle socket, WaitKind kind, std::uint32_t milliseconds)
{
    if (!IsValid(socket))
        return Fail(SocketWait::Failed, kSocketErrorNotSocket);
    const SOCKET native = Native(socket);
    const bool forever = milliseconds == kInfinite;
    const std::uint64_t deadline = MonotonicMilliseconds() + (forever ? 0 : milliseconds);

    win32::ThrowIfTerminated();
    Readiness readiness = ReadinessNow(native, kind);
    if (readiness != Readiness::NotYet)
        return Decided(readiness);
    if (milliseconds == 0)
        return Fail(SocketWait::TimedOut, kSocketErrorTimedOut);

    const WsaEvent event;
    const long events = kind == WaitKind::Readable ? (FD_READ | FD_CLOSE) : (FD_CONNECT | FD_WRITE | FD_CLOSE);
    const EventSelection selection(native, event.Get(), events);
    for (;;)
    {
        // Asked again after every wake-up: events recorded before the selection signal nothing.
        readiness = ReadinessNow(native, kind);
        if (readiness != Readiness::NotYet)
            return Decided(readiness);
        std::uint32_t remaining = Remaining(deadline, forever);
        if (remaining == 0)
        {
            win32::ThrowIfTerminated();
            return Fail(SocketWait::TimedOut, kSocketErrorTimedOut);
        }
        if (selection.Selected())
        {
            const HANDLE wait = event.Get();
            const int woken = win32::WaitForAnyOrTermination(&wait, 1, remaining);
            if (woken == win32::kWaitFailed)
                return Fail(SocketWait::Failed, static_cast<int>(GetLastError()));
            if (woken == 0)
                WSAResetEvent(event.Get());
        }
        else
        {
            remaining = std::min(remaining, kFallbackSliceMilliseconds);
            if (win32::WaitForAnyOrTermination(nullptr, 0, remaining) == win32::kWaitFailed)
                Sleep(remaining);
        }
    }
}
}

SocketHandle CreateSocket(SocketKind kind)
{
    const int type = kind == SocketKind::Udp ? SOCK_DGRAM : SOCK_STREAM;
    const int protocol = kind == SocketKind::Udp ? IPPROTO_UDP : IPPROTO_TCP;
    // Not inherited: a process the host starts must not hold the camera's ports.
    SOCKET native = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (native == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL)
    {
        // Windows 7 before SP1 does not know the flag.
        native = WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (native != INVALID_SOCKET)
            SetHandleInformation(reinterpret_cast<HANDLE>(native), HANDLE_FLAG_INHERIT, 0);
    }
    if (native == INVALID_SOCKET)
        return Fail(kInvalidSocket);
    if (kind == SocketKind::Udp)
        IgnoreIcmpErrors(native);
    win32::RegisterSocket(native);
    return static_cast<SocketHandle>(static_cast<std::uintptr_t>(native));
}

bool CloseSocket(SocketHandle socket)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    // Forgotten first: once closed, the handle value may be handed to a new socket at once.
    win32::UnregisterSocket(Native(socket));
    if (closesocket(Native(socket)) != 0)
        return Fail(false);
    return true;
}

bool ShutdownSocket(SocketHandle socket, SocketShutdown how)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    const int native = how == SocketShutdown::Receive ? SD_RECEIVE : how == SocketShutdown::Send ? SD_SEND : SD_BOTH;
    const bool shut = shutdown(Native(socket), native) == 0;
    const int error = shut ? 0 : WSAGetLastError();
    // Woken also when Winsock refuses (an unconnected socket): the caller wants the reader to stop.
    if (how != SocketShutdown::Send)
        win32::MarkSocketReceiveShutDown(Native(socket));
    if (!shut)
        return Fail(false, error);
    return true;
}

bool SetSocketOption(SocketHandle socket, SocketOption option, std::uint32_t value)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    int name = 0;
    // Both kinds are an int or a DWORD of milliseconds (0 waits forever) for Winsock.
    int intValue = 0;
    DWORD dwordValue = 0;
    const char* data = nullptr;
    int size = 0;
    switch (option)
    {
    case SocketOption::ReceiveBuffer:
    case SocketOption::SendBuffer:
        name = option == SocketOption::ReceiveBuffer ? SO_RCVBUF : SO_SNDBUF;
        intValue = static_cast<int>(std::min<std::uint32_t>(value, 0x7FFFFFFF));
        data = reinterpret_cast<const char*>(&intValue);
        size = sizeof intValue;
        break;
    case SocketOption::ReceiveTimeout:
    case SocketOption::SendTimeout:
        name = option == SocketOption::ReceiveTimeout ? SO_RCVTIMEO : SO_SNDTIMEO;
        dwordValue = value;
        data = reinterpret_cast<const char*>(&dwordValue);
        size = sizeof dwordValue;
        break;
    }
    if (setsockopt(Native(socket), SOL_SOCKET, name, data, size) != 0)
        return Fail(false);
    return true;
}

bool BindSocket(SocketHandle socket, std::uint16_t port)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    // Exclusive: without it, another process's socket with SO_REUSEADDR could bind the same port and
    // take part of a camera's stream. SO_REUSEADDR itself stays off (its default).
    const BOOL exclusive = TRUE;
    if (setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                   sizeof exclusive) != 0)
        return Fail(false);
    const sockaddr_in local = ToSockaddrIn<sockaddr_in>(MakeSocketAddressV4(htonl(INADDR_ANY), port));
    if (bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail(false);
    return true;
}

std::uint16_t GetSocketLocalPort(SocketHandle socket)
{
    if (!IsValid(socket))
        return Fail(std::uint16_t{0}, kSocketErrorNotSocket);
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return Fail(std::uint16_t{0});
    if (local.sin_family != AF_INET)
        return Fail(std::uint16_t{0}, kSocketErrorFamilyNotSupported);
    return ntohs(local.sin_port);
}

int ReceiveFromSocket(SocketHandle socket, std::span<std::uint8_t> buffer, SocketAddressV4* sender,
                      std::size_t* datagramLength)
{
    // Winsock drops a datagram longer than the buffer with WSAEMSGSIZE and does not tell its length.
    if (datagramLength != nullptr)
        *datagramLength = 0;
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const SOCKET native = Native(socket);
    // Winsock may refuse to shut down an unconnected datagram socket; its reads still answer at once,
    // with 0 once it is empty, as a shut-down socket's do.
    const bool shutDown = win32::IsSocketReceiveShutDown(native) && !win32::IsSocketNonBlocking(native);
    u_long mode = 1;
    if (shutDown)
        ioctlsocket(native, FIONBIO, &mode);
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int capacity = static_cast<int>(std::min<std::size_t>(buffer.size(), 0x7FFFFFFF));
    const int received = recvfrom(native, reinterpret_cast<char*>(buffer.data()), capacity, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    const int error = received == SOCKET_ERROR ? WSAGetLastError() : 0;
    mode = 0;
    if (shutDown)
        ioctlsocket(native, FIONBIO, &mode);
    if (received == SOCKET_ERROR)
        return shutDown && (error == WSAEWOULDBLOCK || error == WSAESHUTDOWN) ? 0 : Fail(kSocketFailure, error);
    if (sender != nullptr)
        *sender = SenderOf(from, fromLength);
    return received;
}

int ReceiveDatagrams(SocketHandle socket, std::span<ReceivedDatagram> slots)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const SOCKET native = Native(socket);
    // Winsock has no per-call "don't wait": a blocking socket is made non-blocking for the batch.
    const bool wasBlocking = !win32::IsSocketNonBlocking(native);
    u_long mode = 1;
    if (wasBlocking && ioctlsocket(native, FIONBIO, &mode) != 0)
        return Fail(kSocketFailure);

    constexpr std::size_t kMaximumBatch = 64;
    const std::size_t count = std::min(slots.size(), kMaximumBatch);
    std::size_t filled = 0;
    int error = 0;
    // Each stale ICMP error is one failed read; bounded so that a flood of them cannot hold the
    // thread here.
    for (std::size_t attempts = 0; filled < count && attempts < 2 * kMaximumBatch; ++attempts)
    {
        ReceivedDatagram& slot = slots[filled];
        sockaddr_in from{};
        int fromLength = sizeof from;
        const int capacity = static_cast<int>(std::min<std::size_t>(slot.buffer.size(), 0x7FFFFFFF));
        const int received = recvfrom(native, reinterpret_cast<char*>(slot.buffer.data()), capacity, 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received == SOCKET_ERROR)
        {
            const int failure = WSAGetLastError();
            if (IsStaleDatagramError(failure))
                continue;
            if (failure != WSAEMSGSIZE)
            {
                error = failure == WSAEWOULDBLOCK ? 0 : failure;
                break;
            }
            // Dropped by Winsock, whose real length is not told.
            slot.length = 0;
            slot.truncated = true;
        }
        else
        {
            slot.length = static_cast<std::size_t>(received);
            slot.truncated = false;
        }
        slot.sender = SenderOf(from, fromLength);
        ++filled;
    }

    mode = 0;
    if (wasBlocking)
        ioctlsocket(native, FIONBIO, &mode);
    // A failure after some datagrams is reported by the next call, as the batch read does elsewhere.
    if (filled == 0 && error != 0)
        return Fail(kSocketFailure, error);
    return static_cast<int>(filled);
}

int SendToSocket(SocketHandle socket, std::span<const std::uint8_t> bytes, const SocketAddressV4& destination)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    if (bytes.size() > 0x7FFFFFFF)
        return Fail(kSocketFailure, kSocketErrorMessageTooLong);
    const sockaddr_in to = ToSockaddrIn<sockaddr_in>(destination);
    const int sent = sendto(Native(socket), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
                            0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == SOCKET_ERROR)
        return Fail(kSocketFailure);
    return sent;
}

WaitResult WaitForSocketReadable(SocketHandle socket, std::uint32_t milliseconds)
{
    switch (WaitForSocket(socket, WaitKind::Readable, milliseconds))
    {
    case SocketWait::Ready:
        return WaitResult::Signaled;
    case SocketWait::TimedOut:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

WaitResult WaitForSocketConnected(SocketHandle socket, std::uint32_t milliseconds)
{
    const SocketWait result = WaitForSocket(socket, WaitKind::Connected, milliseconds);
    if (result == SocketWait::TimedOut)
        return WaitResult::TimedOut;
    if (result == SocketWait::Failed)
        return WaitResult::Failed;
    int error = 0;
    int length = sizeof error;
    if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
        return Fail(WaitResult::Failed);
    if (error != 0)
        return Fail(WaitResult::Failed, error);
    // Reported failed by select yet without an error: still no connection.
    if (result == SocketWait::ConnectFailed)
        return Fail(WaitResult::Failed, kSocketErrorConnectionRefused);
    return WaitResult::Signaled;
}

bool SetSocketNonBlocking(SocketHandle socket, bool nonBlocking)
{
    if (!IsValid(socket))
        return Fail(false, kSocketErrorNotSocket);
    u_long mode = nonBlocking ? 1 : 0;
    if (ioctlsocket(Native(socket), FIONBIO, &mode) != 0)
        return Fail(false);
    win32::SetSocketNonBlockingFlag(Native(socket), nonBlocking);
    return true;
}

int ConnectSocket(SocketHandle socket, const SocketAddressV4& destination)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const sockaddr_in to = ToSockaddrIn<sockaddr_in>(destination);
    if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return 0;
    return Fail(kSocketFailure);
}

int SendSocket(SocketHandle socket, std::span<const std::uint8_t> bytes)
{
    if (!IsValid(socket))
        return Fail(kSocketFailure, kSocketErrorNotSocket);
    const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
    const int sent = send(Native(socket), reinterpret_cast<const char*>(bytes.data()), length, 0);
    if (sent == SOCKET_ERROR)
        return Fail(kSocketFailure);
    return sent;
}

int ReceiveSocket(SocketHandle socket, std::span<std::uint8_t> buffer, std::uint32_t milliseconds, bool peek)
{
    if (buffer.empty())
        return 0;
    if (WaitForSocketReadable(socket, milliseconds) != WaitResult::Signaled)
        return kSocketFailure;
    const int capacity = static_cast<int>(std::min<std::size_t>(buffer.size(), 0x7FFFFFFF));
    // Readable, so this does not block: data, the peer's close (0) or an error is there.
    const int received = recv(Native(socket), reinterpret_cast<char*>(buffer.data()), capacity, peek ? MSG_PEEK : 0);
    if (received == SOCKET_ERROR)
        return Fail(kSocketFailure);
    return received;
}

int LastSocketError()
{
    return t_lastSocketError;
}
}
