#include "rtsp_peer.h"

#include <chrono>

#ifndef BRANTEL_SOURCE_DIR
#error "BRANTEL_SOURCE_DIR must name the repository"
#endif

namespace kestrav::testing
{
RtspPeer::RtspPeer(const RtspPeerOptions& options)
{
    // Debian's interpreter: it has the GStreamer bindings, other Pythons on PATH may not.
    std::vector<std::string> arguments = {
        "/usr/bin/python3", std::string(BRANTEL_SOURCE_DIR) + "/tools/camsim/rtsp_server.py",
        "--auth",           options.auth,
        "--user",           options.user,
        "--password",       options.password};
    if (!options.inBandParameterSets)
        arguments.push_back("--no-in-band-parameter-sets");
    m_process = std::make_unique<ChildProcess>(arguments);
    if (!m_process->IsRunning())
        return;
    const auto ready = m_process->WaitForLine("READY ", std::chrono::seconds(20));
    if (ready)
        m_port = static_cast<std::uint16_t>(std::stoi(ready->substr(6)));
}

std::string RtspPeer::Url(const std::string& path) const
{
    return "rtsp://127.0.0.1:" + std::to_string(m_port) + "/" + path;
}
}
