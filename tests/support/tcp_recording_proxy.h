// A TCP proxy on 127.0.0.1 that forwards one client at a time to an upstream server and keeps
// what the client sent, so that a test can read the requests as they went over the wire.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "loopback_tcp_server.h"

namespace kestrav::testing
{
class TcpRecordingProxy : public LoopbackTcpServer
{
public:
    explicit TcpRecordingProxy(std::uint16_t upstreamPort);
    ~TcpRecordingProxy() override;
    TcpRecordingProxy(const TcpRecordingProxy&) = delete;
    TcpRecordingProxy& operator=(const TcpRecordingProxy&) = delete;

    // Everything the clients sent so far.
    std::string ClientBytes() const;
    // What the server answered, its first 64 KiB (an interleaved stream is not kept).
    std::string ServerBytes() const;
    // The client's requests, split at their blank lines (RTSP requests here carry no body).
    std::vector<std::string> Requests() const;
    // Waits until a request starting with `method` has been sent, at most `timeoutMs`.
    bool WaitForRequest(const std::string& method, int timeoutMs) const;

    // Changes the bytes of each read before they go on (fromClient tells the direction); the
    // recorded requests are what the client sent, unchanged.
    using Rewrite = std::function<std::string(std::string bytes, bool fromClient)>;
    void SetRewrite(Rewrite rewrite);
    // Faults of a camera, for the connection open now; later connections pass bytes as usual.
    // Stall: the server's bytes stop coming though the connection stays open.
    void StallCurrentConnection() { m_stalled = m_connection.load(); }
    // Cut: the connection closes mid-stream.
    void CutCurrentConnection() { m_cut = m_connection.load(); }

protected:
    void Serve(platform::SocketHandle client) override;

private:
    void Forward(platform::SocketHandle client, platform::SocketHandle upstream);

    std::uint16_t m_upstreamPort;
    mutable std::mutex m_mutex;
    std::string m_clientBytes;
    std::string m_serverBytes;
    Rewrite m_rewrite;
    // Connections are numbered from 1 as they are served; 0 names none.
    std::atomic<std::uint64_t> m_connection{0};
    std::atomic<std::uint64_t> m_stalled{0};
    std::atomic<std::uint64_t> m_cut{0};
};
}
