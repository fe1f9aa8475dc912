#include "scripted_rtsp_server.h"

#include <chrono>

#include "test_sockets.h"

namespace kestrav::testing
{
ScriptedRtspServer::ScriptedRtspServer(Script script) : m_script(std::move(script))
{
    StartServing();
}

ScriptedRtspServer::~ScriptedRtspServer()
{
    StopServing();
}

void ScriptedRtspServer::Serve(platform::SocketHandle client)
{
    std::string pending;
    while (!IsStopping())
    {
        const int got = ReceiveInto(client, pending, std::chrono::milliseconds(50));
        if (got < 0 && platform::LastSocketError() == platform::kSocketErrorTimedOut)
            continue;
        if (got <= 0)
            return;
        TakeInterleavedFrames(pending);
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
            if (!SendAll(client, answer))
                return;
            if (closeAfter)
                return;
            TakeInterleavedFrames(pending);
        }
    }
}

void ScriptedRtspServer::TakeInterleavedFrames(std::string& pending)
{
    while (pending.size() >= 4 && pending[0] == '$')
    {
        const std::size_t length = static_cast<std::size_t>(static_cast<unsigned char>(pending[2])) << 8 |
                                   static_cast<unsigned char>(pending[3]);
        if (pending.size() < 4 + length)
            return;
        std::lock_guard lock(m_mutex);
        m_frames.push_back(pending.substr(0, 4 + length));
        pending.erase(0, 4 + length);
    }
}

std::vector<std::string> ScriptedRtspServer::InterleavedFrames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
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
