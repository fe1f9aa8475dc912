// A one-connection RTSP server on 127.0.0.1 whose answers a test writes: each request (read up
// to its blank line) is handed to the script, whose text goes back as the response.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "loopback_tcp_server.h"

namespace kestrav::testing
{
class ScriptedRtspServer : public LoopbackTcpServer
{
public:
    // Given the request and its number (from 1), returns the bytes to answer with; an empty
    // answer sends nothing; an answer ending in kCloseMarker is sent without it, and then the
    // connection is closed.
    using Script = std::function<std::string(const std::string& request, int number)>;
    static constexpr const char* kCloseMarker = "\x01close";

    explicit ScriptedRtspServer(Script script);
    ~ScriptedRtspServer() override;
    ScriptedRtspServer(const ScriptedRtspServer&) = delete;
    ScriptedRtspServer& operator=(const ScriptedRtspServer&) = delete;

    std::vector<std::string> Requests() const;
    // What the client sent framed for interleaving ("$", channel, length, packet), whole.
    std::vector<std::string> InterleavedFrames() const;
    bool WaitForRequests(std::size_t count, int timeoutMs) const;

    // The CSeq header of a request, to echo it.
    static std::string CSeqOf(const std::string& request);

protected:
    void Serve(platform::SocketHandle client) override;

private:
    void TakeInterleavedFrames(std::string& pending);

    Script m_script;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::vector<std::string> m_frames;
};
}
