// Debian's GStreamer RTSP server, started on a free port of 127.0.0.1 for one test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace kestrav::testing
{
struct RtspPeerOptions
{
    std::string auth = "none"; // none, basic, digest, both
    std::string user = "admin";
    std::string password = "secret";
    bool inBandParameterSets = true;
};

class RtspPeer
{
public:
    explicit RtspPeer(const RtspPeerOptions& options = {});

    // 0 when the server did not come up.
    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const;

private:
    std::unique_ptr<ChildProcess> m_process;
    std::uint16_t m_port = 0;
};
}
