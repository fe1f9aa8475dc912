#include "tcp_recording_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kestrav::testing
{
namespace
{
constexpr std::size_t kServerBytesKept = 65536;

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
}

TcpRecordingProxy::TcpRecordingProxy(std::uint16_t upstreamPort) : m_upstreamPort(upstreamPort)
{
    StartServing();
}

TcpRecordingProxy::~TcpRecordingProxy()
{
    StopServing();
}

void TcpRecordingProxy::Serve(int client)
{
    const int upstream = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(m_upstreamPort);
    if (upstream >= 0 && connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        Forward(client, upstream);
    if (upstream >= 0)
        close(upstream);
}

void TcpRecordingProxy::SetRewrite(Rewrite rewrite)
{
    std::lock_guard lock(m_mutex);
    m_rewrite = std::move(rewrite);
}

void TcpRecordingProxy::Forward(int client, int upstream)
{
    const std::uint64_t connection = ++m_connection;
    char buffer[16384];
    while (!IsStopping() && m_cut != connection)
    {
        // A stalled server is not read: its bytes pile up in the sockets as a silent camera's would.
        const nfds_t watched = m_stalled == connection ? 1 : 2;
        pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        if (poll(ends, watched, 50) <= 0)
            continue;
        for (nfds_t i = 0; i < watched; ++i)
        {
            if ((ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            const ssize_t got = recv(ends[i].fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            std::string bytes(buffer, static_cast<std::size_t>(got));
            {
                std::lock_guard lock(m_mutex);
                if (i == 0)
                    m_clientBytes += bytes;
                else if (m_serverBytes.size() < kServerBytesKept)
                    m_serverBytes += bytes;
                if (m_rewrite)
                    bytes = m_rewrite(std::move(bytes), i == 0);
            }
            const int to = i == 0 ? upstream : client;
            for (std::size_t sent = 0; sent < bytes.size();)
            {
                const ssize_t now = send(to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (now <= 0)
                    return;
                sent += static_cast<std::size_t>(now);
            }
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
