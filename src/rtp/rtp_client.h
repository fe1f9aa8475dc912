// A UDP port that reads datagrams on its own thread, and the user it reports them to. The
// RTP receiver and the RTCP handler are its two users.
#pragma once

#include <cstdint>
#include <span>

#include "platform/socket.h"

namespace kestrav
{
class IRTPClientUser;

class IRTPClient
{
public:
    virtual ~IRTPClient() = default;
    // Binds `port` on every local address and starts reading, reporting to `user`.
    virtual bool OpenPort(IRTPClientUser* user, std::uint16_t port) = 0;
    virtual bool ClosePort() = 0;
    // The datagram buffer of the next reading thread, in bytes.
    virtual void SetBufferSize(std::uint32_t bytes) = 0;
    // How long the reading thread waits for a datagram before it reports idleness; the
    // fraction is in microseconds, as in a timeval.
    virtual void SetSelectTimeout(std::uint32_t seconds, std::uint32_t fraction) = 0;
    // 0 when closed.
    virtual std::uint16_t GetPort() = 0;
};

// Called on the client's reading thread, except OnClosed from ClosePort, which runs on the
// closing thread.
class IRTPClientUser
{
public:
    virtual ~IRTPClientUser() = default;
    // `bytes` is the client's buffer, valid only during the call.
    virtual void OnDatagram(IRTPClient* client, const platform::SocketAddressV4& sender,
                            std::span<const std::uint8_t> bytes) = 0;
    // Nothing arrived during a select period.
    virtual void OnIdle(IRTPClient* client) = 0;
    // The socket is gone: closed, or failed so that reading ended.
    virtual void OnClosed(IRTPClient* client) = 0;
    // Every datagram of one read has been reported. A user that hands datagrams to another thread
    // may hold them back to wake that thread once for several reads: it returns within how many
    // milliseconds it must be called again, even when nothing more arrives (0: it holds none).
    virtual std::uint32_t OnDatagramsEnd(IRTPClient*) { return 0; }
};
}
