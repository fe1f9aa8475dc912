#include "rtp/udp_client.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/clock.h"
#include "platform/thread_termination.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kReceiveTimeoutMilliseconds = 5000;
constexpr std::uint32_t kSendTimeoutMilliseconds = 1000;
constexpr std::uint32_t kMinimumStopWaitMilliseconds = 5000;

// What ClosePort reads off a closing socket.
constexpr int kMaximumDiscardedDatagrams = 100;
constexpr std::size_t kDiscardBufferBytes = 1500;

// A wait that keeps failing must not spin a core of the host's process.
constexpr std::uint32_t kFailedWaitPauseMilliseconds = 10;
// A port that stays busy is read at most this often (a delay no viewer sees): its datagrams wait in the socket's buffer
// and come in one batch, instead of waking the reading thread once each. A port whose datagrams come further apart is
// read as each arrives.
constexpr std::uint64_t kCoalesceMilliseconds = 40;
// Datagrams read per call: one wake-up and one read for a burst instead of one per datagram; fewer
// when the datagrams are large, so that a port's buffers stay within some 64 KiB.
constexpr std::size_t kBatchDatagrams = 32;
constexpr std::size_t kBatchBytes = 64 * 1024;

// The buffers of a batch read: one block, cut into equal slots.
class DatagramBatch
{
public:
    explicit DatagramBatch(std::size_t datagramSize) { Resize(datagramSize); }

    void Resize(std::size_t datagramSize)
    {
        m_datagramSize = datagramSize;
        m_count = std::clamp<std::size_t>(kBatchBytes / std::max<std::size_t>(datagramSize, 1), 1, kBatchDatagrams);
        m_storage.assign(m_count * datagramSize, 0);
        for (std::size_t i = 0; i < m_count; ++i)
            m_slots[i] = {std::span(m_storage).subspan(i * datagramSize, datagramSize)};
    }
    std::size_t DatagramSize() const { return m_datagramSize; }
    std::span<platform::ReceivedDatagram> Slots() { return std::span(m_slots).first(m_count); }

private:
    std::size_t m_datagramSize = 0;
    std::size_t m_count = 0;
    std::vector<std::uint8_t> m_storage;
    std::array<platform::ReceivedDatagram, kBatchDatagrams> m_slots{};
};

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
        platform::SetSocketOption(socket, platform::SocketOption::ReceiveBuffer, m_socketReceiveBytes) &&
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

std::uint32_t CUDPClient::ReportDatagramsEnd()
{
    std::uint32_t recall = 0;
    CallUser([&] { recall = m_user->OnDatagramsEnd(this); });
    return recall;
}

void CUDPClient::ThreadFunction()
{
    const platform::SocketHandle socket = m_socket.load();
    if (socket == platform::kInvalidSocket)
        return;
    DatagramBatch batch(std::min(m_bufferSize.load(), kMaximumBufferSize));
    bool drained = true;
    std::uint64_t lastRead = 0;
    // The user holds datagrams back and wants to be asked again within this many milliseconds.
    std::uint32_t recall = 0;
    while (!IsStopRequested())
    {
        bool coalesced = false;
        if (drained && lastRead != 0)
        {
            const std::uint64_t since = platform::MonotonicMilliseconds() - lastRead;
            if (since < kCoalesceMilliseconds)
            {
                if (StopEvent().Wait(static_cast<std::uint32_t>(kCoalesceMilliseconds - since)))
                    break;
                coalesced = true;
            }
        }
        // A full batch, or a busy port after its pause, likely has datagrams waiting: read without
        // asking the OS first (the read does not block; an empty one leads to the wait).
        const std::uint32_t period = SelectPeriodMilliseconds();
        const platform::WaitResult waited =
            drained && !coalesced
                ? platform::WaitForSocketReadable(socket, recall != 0 ? std::min(recall, period) : period)
                : platform::WaitResult::Signaled;
        if (IsStopRequested())
            break;
        if (waited == platform::WaitResult::TimedOut)
        {
            if (recall != 0)
                recall = ReportDatagramsEnd();
            else
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

        const int received = platform::ReceiveDatagrams(socket, batch.Slots());
        if (IsStopRequested())
            break;
        drained = received < static_cast<int>(batch.Slots().size());
        if (received > 0)
            lastRead = platform::MonotonicMilliseconds();
        std::size_t wanted = 0;
        for (const platform::ReceivedDatagram& slot :
             batch.Slots().first(static_cast<std::size_t>(std::max(received, 0))))
        {
            if (slot.truncated)
            {
                // That datagram is lost; the next one of its size fits. Where the OS does not tell
                // the size (Windows), the buffer doubles, so that only a handful are lost on the way to
                // the largest size rather than one per fixed step.
                const std::size_t size = slot.buffer.size();
                wanted = std::max(wanted,
                                  slot.length > size ? slot.length : size + std::max<std::size_t>(size, kBufferGrowth));
                continue;
            }
            if (slot.length == 0)
                continue;
            const std::span<const std::uint8_t> datagram(slot.buffer.data(), slot.length);
            CallUser([&] { m_user->OnDatagram(this, slot.sender, datagram); });
        }
        if (received > 0)
            recall = ReportDatagramsEnd();
        if (wanted > batch.DatagramSize() && batch.DatagramSize() < kMaximumBufferSize)
            batch.Resize(std::min<std::size_t>(wanted, kMaximumBufferSize));
    }
}
}
