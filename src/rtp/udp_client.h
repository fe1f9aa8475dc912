// A UDP port with its own reading thread: RTP and RTCP of one stream each have one.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "platform/socket.h"
#include "rtp/rtp_client.h"
#include "runtime/base_thread.h"
#include "runtime/recursive_lock.h"

namespace kestrav
{
class CUDPClient : public CBaseThread, public IRTPClient
{
public:
    explicit CUDPClient(IDebugMessage* owner);
    ~CUDPClient() override;

    // Fails without change when the port is already open. Port 0 binds any free port, which
    // GetPort then reports.
    bool OpenPort(IRTPClientUser* user, std::uint16_t port) override;
    // The result of stopping the reading thread.
    bool ClosePort() override;
    void SetBufferSize(std::uint32_t bytes) override;
    void SetSelectTimeout(std::uint32_t seconds, std::uint32_t fraction) override;
    std::uint16_t GetPort() override;

    // The socket's own receive buffer, set when the port opens (65535 bytes unless set); the OS may
    // cap it. A video port needs room for a key frame's burst.
    void SetSocketReceiveBuffer(std::uint32_t bytes) { m_socketReceiveBytes = bytes; }

    // Sends all of `bytes`; false with the port closed, on an error or when nothing goes.
    bool SendTo(std::span<const std::uint8_t> bytes, const platform::SocketAddressV4& destination);

    static constexpr std::uint32_t kDefaultBufferSize = 8192;
    // Nothing longer fits into a UDP datagram.
    static constexpr std::uint32_t kMaximumBufferSize = 65535;
    // Where the OS does not report the size of a datagram that did not fit, the buffer doubles,
    // growing by at least this much.
    static constexpr std::uint32_t kBufferGrowth = 1024;

protected:
    void ThreadFunction() override;

private:
    bool BindSocket(std::uint16_t port);
    std::uint32_t SelectPeriodMilliseconds() const;
    std::uint32_t StopWaitMilliseconds() const;
    static void DiscardPending(platform::SocketHandle socket);
    // Calls into the user never end the reading thread.
    template <typename Call> void CallUser(Call call);
    // OnDatagramsEnd of the user: how soon it wants to be asked again (0: not at all).
    std::uint32_t ReportDatagramsEnd();

    // Around opening, closing and sending; never taken by the reading thread, because
    // ClosePort holds it while it waits for that thread.
    CRecursiveLock m_lock;
    IRTPClientUser* m_user = nullptr;
    std::atomic<platform::SocketHandle> m_socket{platform::kInvalidSocket};
    std::atomic<std::uint16_t> m_port{0};
    std::atomic<std::uint32_t> m_bufferSize{kDefaultBufferSize};
    std::atomic<std::uint32_t> m_socketReceiveBytes{65535};
    // Read on every pass of the reading loop, so a change applies to the running thread.
    std::atomic<std::uint32_t> m_selectSeconds{2};
    std::atomic<std::uint32_t> m_selectFraction{0};
    std::uint32_t m_longestTimeout = 0;
};
}
