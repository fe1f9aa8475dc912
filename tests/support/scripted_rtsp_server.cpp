#include "scripted_rtsp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace kestrav::testing
{
ScriptedRtspServer::ScriptedRtspServer(Script script) : m_script(std::move(script))
{
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 4) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
}

ScriptedRtspServer::~ScriptedRtspServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        close(m_listener);
}

void ScriptedRtspServer::Run()
{
    while (!m_stop)
    {
        pollfd listening{m_listener, POLLIN, 0};
        if (poll(&listening, 1, 50) <= 0)
            continue;
        const int client = accept(m_listener, nullptr, nullptr);
        if (client >= 0)
        {
            Serve(client);
            close(client);
        }
    }
}

void ScriptedRtspServer::Serve(int client)
{
    std::string pending;
    char buffer[4096];
    while (!m_stop)
    {
        pollfd readable{client, POLLIN, 0};
        if (poll(&readable, 1, 50) <= 0)
            continue;
        const ssize_t got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        pending.append(buffer, static_cast<std::size_t>(got));
        for (auto end = pending.find("\r\n\r\n"); end != std::string::npos; end = pending.find("\r\n\r\n"))
        {
            const std::string request = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            int number = 0;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
                number = static_cast<int>(m_requests.size());
            }
            std::string answer = m_script(request, number);
            const std::string closeMarker = kCloseMarker;
            const bool closeAfter =
                answer.size() >= closeMarker.size() &&
                answer.compare(answer.size() - closeMarker.size(), closeMarker.size(), closeMarker) == 0;
            if (closeAfter)
                answer.resize(answer.size() - closeMarker.size());
            for (std::size_t sent = 0; sent < answer.size();)
            {
                const ssize_t now = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
                if (now <= 0)
                    return;
                sent += static_cast<std::size_t>(now);
            }
            if (closeAfter)
                return;
        }
    }
}

std::vector<std::string> ScriptedRtspServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool ScriptedRtspServer::WaitForRequests(std::size_t count, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (Requests().size() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Requests().size() >= count;
}

std::string ScriptedRtspServer::CSeqOf(const std::string& request)
{
    const auto start = request.find("CSeq: ");
    if (start == std::string::npos)
        return {};
    return request.substr(start + 6, request.find("\r\n", start) - start - 6);
}
}
