// Debian's VLC as a second, independent RTSP server: it streams a long H.264 file over RTP/UDP (it
// answers 461 to interleaved TCP) on a fixed port of 127.0.0.1, and can be stopped and started again
// on that port as a camera's RTSP server that restarts.
// Test support only: it talks to the operating system directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace kestrav::testing
{
class VlcPeer
{
public:
    // Serves the stream at "/<path>" on a free port, with further VLC options such as
    // {"--rtsp-timeout", "4"} (the session time-out it announces, 60 s by default); IsReady() tells
    // whether it came up.
    explicit VlcPeer(std::string path, std::vector<std::string> moreOptions = {});
    ~VlcPeer();
    VlcPeer(const VlcPeer&) = delete;
    VlcPeer& operator=(const VlcPeer&) = delete;

    bool IsReady() const { return m_ready; }
    const std::string& StartFailure() const { return m_startFailure; }
    std::uint16_t Port() const { return m_port; }
    std::string Url() const;

    // Ends the server (its whole process group) and waits until the port refuses connections.
    bool Stop();
    // Starts the server again on the same port and waits until it describes the stream.
    bool Start();

private:
    std::string m_path;
    std::vector<std::string> m_moreOptions;
    std::uint16_t m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
    bool m_ready = false;
    std::string m_startFailure;
};
}
