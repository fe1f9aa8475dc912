#include "rtp/udp_client.h"

#include <algorithm>
#include <vector>

#include "platform/thread_termination.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kReceiveBufferBytes = 65535;
constexpr std::uint32_t kReceiveTimeoutMilliseconds = 5000;
constexpr std::uint32_t kSendTimeoutMilliseconds = 1000;
constexpr std::uint32_t kMinimumStopWaitMilliseconds = 5000;

// What ClosePort reads off a closing socket.
constexpr int kMaximumDiscardedDatagrams = 100;
constexpr std::size_t kDiscardBufferBytes = 1500;

// A wait that keeps failing must not spin a core of the host's process.
constexpr std::uint32_t kFailedWaitPauseMilliseconds = 10;

bool EndsReading(int socketError)
{
    return socketError == platform::kSocketErrorBadAddress || socketError == platform::kSocketErrorNetworkDown ||
           socketError == platform::kSocketErrorNotInitialised;
}
}

CUDPClient::CUDPClient(IDebugMessage* owner) : CBaseThread(owner) {}

CUDPClient::~CUDPClient()
{
    ClosePort();
}

bool CUDPClient::OpenPort(IRTPClientUser* user, std::uint16_t port)
{
    CRecursiveLockGuard guard(m_lock);
    if (m_socket.load() != platform::kInvalidSocket)
        return false;
    m_user = user;
    if (!BindSocket(port))
        return false;
    if (!StartThread(FormatString("UDP client thread, port %u", static_cast<unsigned>(m_port.load()))))
    {
        ClosePort();
        return false;
    }
    return true;
}

bool CUDPClient::BindSocket(std::uint16_t port)
{
    const platform::SocketHandle socket = platform::CreateSocket(platform::SocketKind::Udp);
    if (socket == platform::kInvalidSocket)
        return false;
    const bool bound =
        platform::SetSocketOption(socket, platform::SocketOption::ReceiveBuffer, kReceiveBufferBytes) &&
        platform::SetSocketOption(socket, platform::SocketOption::ReceiveTimeout, kReceiveTimeoutMilliseconds) &&
        platform::SetSocketOption(socket, platform::SocketOption::SendTimeout, kSendTimeoutMilliseconds) &&
        platform::BindSocket(socket, port);
    const std::uint16_t boundPort = bound ? platform::GetSocketLocalPort(socket) : 0;
    if (boundPort == 0)
    {
        platform::CloseSocket(socket);
        return false;
    }
    m_port = boundPort;
    m_longestTimeout = std::max(kReceiveTimeoutMilliseconds, kSendTimeoutMilliseconds);
    m_socket = socket;
    return true;
}

bool CUDPClient::ClosePort()
{
    StopEvent().Set();
    platform::SocketHandle closing = platform::kInvalidSocket;
    bool stopped = false;
    {
        CRecursiveLockGuard guard(m_lock);
        closing = m_socket.exchange(platform::kInvalidSocket);
        if (closing != platform::kInvalidSocket)
        {
            // Wakes the reading thread out of its wait and its read.
            platform::ShutdownSocket(closing, platform::SocketShutdown::Both);
            m_port = 0;
        }
        stopped = StopThread(StopWaitMilliseconds());
    }
    if (closing == platform::kInvalidSocket)
        return stopped;
    DiscardPending(closing);
    platform::CloseSocket(closing);
    CallUser([this] { m_user->OnClosed(this); });
    return stopped;
}

void CUDPClient::DiscardPending(platform::SocketHandle socket)
{
    std::uint8_t buffer[kDiscardBufferBytes];
    for (int i = 0; i < kMaximumDiscardedDatagrams; ++i)
    {
        // A shut-down socket answers at once, with 0 once it is empty.
        const int received = platform::ReceiveFromSocket(socket, buffer, nullptr);
        if (received <= 0 && platform::LastSocketError() != platform::kSocketErrorMessageTooLong)
            break;
    }
}

void CUDPClient::SetBufferSize(std::uint32_t bytes)
{
    m_bufferSize = bytes;
}

void CUDPClient::SetSelectTimeout(std::uint32_t seconds, std::uint32_t fraction)
{
    m_selectSeconds = seconds;
    m_selectFraction = fraction;
}

std::uint16_t CUDPClient::GetPort()
{
    return m_port;
}

bool CUDPClient::SendTo(std::span<const std::uint8_t> bytes, const platform::SocketAddressV4& destination)
{
    // Under the lock, so that ClosePort cannot close the socket under a send.
    CRecursiveLockGuard guard(m_lock);
    const platform::SocketHandle socket = m_socket.load();
    if (socket == platform::kInvalidSocket)
        return false;
    while (!bytes.empty())
    {
        const int sent = platform::SendToSocket(socket, bytes, destination);
        if (sent <= 0)
            return false;
        bytes = bytes.subspan(std::min(static_cast<std::size_t>(sent), bytes.size()));
    }
    return true;
}

std::uint32_t CUDPClient::SelectPeriodMilliseconds() const
{
    const std::uint64_t milliseconds =
        std::uint64_t{m_selectSeconds.load()} * 1000 + std::uint64_t{m_selectFraction.load()} / 1000;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(milliseconds, platform::kInfinite - 1));
}

std::uint32_t CUDPClient::StopWaitMilliseconds() const
{
    const std::uint64_t longest = std::max<std::uint64_t>(m_longestTimeout, std::uint64_t{m_selectSeconds} * 1000);
    const std::uint64_t wait = std::max<std::uint64_t>(kMinimumStopWaitMilliseconds, longest + 1000);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(wait, platform::kInfinite - 1));
}

template <typename Call> void CUDPClient::CallUser(Call call)
{
    if (m_user == nullptr)
        return;
    try
    {
        call();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // The user's failure is its own; the port goes on reading (or closing).
    }
}

void CUDPClient::ThreadFunction()
{
    const platform::SocketHandle socket = m_socket.load();
    if (socket == platform::kInvalidSocket)
        return;
    std::vector<std::uint8_t> buffer(std::min(m_bufferSize.load(), kMaximumBufferSize));
    while (!IsStopRequested())
    {
        const platform::WaitResult waited = platform::WaitForSocketReadable(socket, SelectPeriodMilliseconds());
        if (IsStopRequested())
            break;
        if (waited == platform::WaitResult::TimedOut)
        {
            CallUser([this] { m_user->OnIdle(this); });
            continue;
        }
        if (waited == platform::WaitResult::Failed)
        {
            const int error = platform::LastSocketError();
            if (EndsReading(error))
            {
                CallUser([this] { m_user->OnClosed(this); });
                return;
            }
            // Winsock reports an invalid argument for conditions the read itself tells apart.
            if (error != platform::kSocketErrorInvalidArgument)
            {
                StopEvent().Wait(kFailedWaitPauseMilliseconds);
                continue;
            }
        }

        platform::SocketAddressV4 sender;
        std::size_t datagramLength = 0;
        const int received = platform::ReceiveFromSocket(socket, buffer, &sender, &datagramLength);
        if (IsStopRequested())
            break;
        if (received > 0)
        {
            const std::span<const std::uint8_t> datagram(buffer.data(), static_cast<std::size_t>(received));
            CallUser([&] { m_user->OnDatagram(this, sender, datagram); });
        }
        else if (received == platform::kSocketFailure &&
                 platform::LastSocketError() == platform::kSocketErrorMessageTooLong &&
                 buffer.size() < kMaximumBufferSize)
        {
            // That datagram is lost; the next one of its size fits. Where the OS does not tell
            // the size, the buffer grows by steps.
            const std::size_t wanted = datagramLength > buffer.size() ? datagramLength : buffer.size() + kBufferGrowth;
            buffer.resize(std::min<std::size_t>(wanted, kMaximumBufferSize));
        }
    }
}
}
