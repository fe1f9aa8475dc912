// The simulated camera's HTTP side (tools/camsim/http_camera.py), started on free ports of 127.0.0.1
// for one test or one test suite, with its request log and its control endpoints at hand.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Further command-line options of http_camera.py, such as "--alarm-interval", "0".
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

    // False when the camera did not come up; the reason is in StartFailure().
    bool IsReady() const { return m_httpPort != 0; }
    const std::string& StartFailure() const { return m_startFailure; }
    std::uint16_t HttpPort() const { return m_httpPort; }
    std::uint16_t HttpsPort() const { return m_httpsPort; }
    // The camera's self-signed certificate (PEM), to be trusted by an HTTPS client.
    const std::string& CertificateFile() const { return m_certificate; }

    // A GET of a control endpoint ("/camsim/alarm?motion=1") over a socket of its own, independent of
    // the code under test; the body of a 200 answer, or nullopt.
    std::optional<std::string> Control(const std::string& target) const;
    // Removes every misbehaviour rule and restores the authentication of the options.
    void Reset();

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
    std::string m_startFailure;
    std::size_t m_forgotten = 0;
};
}
