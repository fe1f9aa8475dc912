// The simulated camera (tools/camsim), started on free ports of 127.0.0.1 for one test or one test suite,
// with its request log and its control endpoints at hand: the HTTP side alone (http_camera.py) or, with
// CamsimOptions::rtsp, the whole camera with its GStreamer RTSP side (camsim.py).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace kestrav::testing
{
struct CamsimOptions
{
    // "none", or the schemes in the camera's order of preference: "basic", "digest", "digest,basic".
    std::string auth = "none";
    std::string user = "admin";
    std::string password = "secret";
    bool https = false;
    std::string httpsBind = "127.0.0.1";
    // 0 picks a free port.
    std::uint16_t httpsPort = 0;
    // The RTSP side too (camsim.py, which needs GStreamer and takes a second more to start); its streams
    // follow the /getprofile answer, the authentication and /setstreaming.
    bool rtsp = false;
    // With the RTSP side: the session time-out it announces and enforces, ending a session whose client
    // sent neither a request naming it nor an RTCP report for that long. 0 keeps GStreamer's 60 s, not enforced.
    int sessionTimeoutSeconds = 0;
    // Further command-line options of http_camera.py (or camsim.py), such as "--alarm-interval", "0".
    std::vector<std::string> extraArguments;
};

// One line of the camera's request log.
struct CamsimRequest
{
    std::string method;
    std::string target; // as it came in the request line
    std::string path;
    std::string authorization; // "basic", "digest" or empty
    std::string user;
    bool authorized = false;
    bool tls = false;
    // A client spoke something other than TLS to the HTTPS port.
    bool tlsFailed = false;
    int status = 0;
    int clientPort = 0;
    std::string misbehave;
};

class CamsimPeer
{
public:
    explicit CamsimPeer(const CamsimOptions& options = {});
    ~CamsimPeer();
    CamsimPeer(const CamsimPeer&) = delete;
    CamsimPeer& operator=(const CamsimPeer&) = delete;

    // False when the camera did not come up (with its RTSP side, when asked); the reason is in StartFailure().
    bool IsReady() const { return m_httpPort != 0; }
    const std::string& StartFailure() const { return m_startFailure; }
    std::uint16_t HttpPort() const { return m_httpPort; }
    std::uint16_t HttpsPort() const { return m_httpsPort; }
    // The camera's self-signed certificate (PEM), to be trusted by an HTTPS client.
    const std::string& CertificateFile() const { return m_certificate; }

    // A GET of a control endpoint ("/camsim/alarm?motion=1") over a socket of its own, independent of
    // the code under test; the body of a 200 answer, or nullopt.
    std::optional<std::string> Control(const std::string& target) const;
    // Replaces the answer of "/server" or "/getprofile" (with the RTSP side, the mounts follow a new
    // profile list). False when the camera refused.
    bool SetAnswer(const std::string& path, const std::string& text);
    // Removes every misbehaviour rule and restores the authentication of the options; a stopped RTSP side
    // listens again.
    void Reset();

    // The RTSP port; 0 without the RTSP side.
    std::uint16_t RtspPort() const { return m_rtspPort; }
    // "rtsp://127.0.0.1:<port>/<path>", with the options' user and password in it when asked.
    std::string RtspUrl(const std::string& path, bool withCredentials = false) const;
    // The RTSP side goes away as a camera switched off (connections and sessions closed, media stopped,
    // the port refusing), and comes back on the same port. False when the camera did not confirm.
    bool StopRtsp();
    bool StartRtsp();
    // What the next stream of an RTSP path ("/rtsph264cif") is built with: "width", "height", "fps",
    // "bitrate", "key_frame_period", "quality", "version" (factories mounted there so far), ... as the
    // camera reports them; nullopt for a path the camera does not serve.
    std::optional<std::map<std::string, std::string>> RtspStream(const std::string& path) const;

    // The requests logged since the start or the last ForgetRequests.
    std::vector<CamsimRequest> Requests() const;
    void ForgetRequests();

private:
    CamsimOptions m_options;
    std::string m_directory;
    std::string m_logFile;
    std::string m_certificate;
    std::unique_ptr<ChildProcess> m_process;
    std::uint16_t m_httpPort = 0;
    std::uint16_t m_httpsPort = 0;
    std::uint16_t m_rtspPort = 0;
    std::string m_startFailure;
    std::size_t m_forgotten = 0;
};
}
