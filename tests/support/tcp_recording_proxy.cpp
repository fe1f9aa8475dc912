#include "tcp_recording_proxy.h"

#include <chrono>

#include "test_sockets.h"

namespace kestrav::testing
{
namespace
{
constexpr std::size_t kServerBytesKept = 65536;
}

TcpRecordingProxy::TcpRecordingProxy(std::uint16_t upstreamPort) : m_upstreamPort(upstreamPort)
{
    StartServing();
}

TcpRecordingProxy::~TcpRecordingProxy()
{
    StopServing();
}

void TcpRecordingProxy::Serve(platform::SocketHandle client)
{
    const platform::SocketHandle upstream = ConnectLoopback(m_upstreamPort);
    if (upstream == platform::kInvalidSocket)
        return;
    Forward(client, upstream);
    platform::CloseSocket(upstream);
}

void TcpRecordingProxy::SetRewrite(Rewrite rewrite)
{
    std::lock_guard lock(m_mutex);
    m_rewrite = std::move(rewrite);
}

void TcpRecordingProxy::Forward(platform::SocketHandle client, platform::SocketHandle upstream)
{
    const std::uint64_t connection = ++m_connection;
    const platform::SocketHandle ends[2] = {client, upstream};
    while (!IsStopping() && m_cut != connection)
    {
        // A stalled server is not read: its bytes pile up in the sockets as a silent camera's would.
        const std::size_t watched = m_stalled == connection ? 1 : 2;
        bool readable[2] = {false, false};
        if (WaitForReadable(std::span(ends, watched), std::span(readable, watched), std::chrono::milliseconds(50)) <= 0)
            continue;
        for (std::size_t i = 0; i < watched; ++i)
        {
            if (!readable[i])
                continue;
            std::string bytes;
            if (ReceiveInto(ends[i], bytes, std::chrono::milliseconds(0)) <= 0)
                return;
            {
                std::lock_guard lock(m_mutex);
                if (i == 0)
                    m_clientBytes += bytes;
                else if (m_serverBytes.size() < kServerBytesKept)
                    m_serverBytes += bytes;
                if (m_rewrite)
                    bytes = m_rewrite(std::move(bytes), i == 0);
            }
            if (!SendAll(i == 0 ? upstream : client, bytes))
                return;
        }
    }
}

std::string TcpRecordingProxy::ClientBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_clientBytes;
}

std::string TcpRecordingProxy::ServerBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_serverBytes;
}

std::vector<std::string> TcpRecordingProxy::Requests() const
{
    const std::string bytes = ClientBytes();
    std::vector<std::string> requests;
    std::size_t start = 0;
    for (auto end = bytes.find("\r\n\r\n"); end != std::string::npos; end = bytes.find("\r\n\r\n", start))
    {
        requests.push_back(bytes.substr(start, end + 4 - start));
        start = end + 4;
    }
    return requests;
}

bool TcpRecordingProxy::WaitForRequest(const std::string& method, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do
    {
        for (const std::string& request : Requests())
        {
            if (request.rfind(method + " ", 0) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
}
