// A TCP proxy on 127.0.0.1 that forwards one client at a time to an upstream server and keeps
// what the client sent, so that a test can read the requests as they went over the wire.
// Test support only: it talks to the operating system directly.
#pragma once

#include <cstdint>
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

protected:
    void Serve(int client) override;

private:
    void Forward(int client, int upstream);

    std::uint16_t m_upstreamPort;
    mutable std::mutex m_mutex;
    std::string m_clientBytes;
    std::string m_serverBytes;
};
}
