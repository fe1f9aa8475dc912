#include "camsim_peer.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_sockets.h"

#ifndef BRANTEL_SOURCE_DIR
#error "BRANTEL_SOURCE_DIR must name the repository"
#endif

namespace kestrav::testing
{
namespace
{
// The text of a JSON string value starting at `start` (just after its opening quote).
std::string JsonString(const std::string& line, std::size_t start)
{
    std::string value;
    for (std::size_t i = start; i < line.size(); ++i)
    {
        const char c = line[i];
        if (c == '"')
            break;
        if (c != '\\' || i + 1 >= line.size())
        {
            value.push_back(c);
            continue;
        }
        const char escaped = line[++i];
        switch (escaped)
        {
        case 'n':
            value.push_back('\n');
            break;
        case 'r':
            value.push_back('\r');
            break;
        case 't':
            value.push_back('\t');
            break;
        case 'u':
            // The log's texts are ASCII; anything else is kept visible rather than decoded.
            value += "\\u";
            break;
        default:
            value.push_back(escaped);
        }
    }
    return value;
}

// A top-level field of a log line: every line puts its nested "query" object last.
std::string Field(const std::string& line, const std::string& name)
{
    const std::string head = line.substr(0, line.find("\"query\": "));
    const std::string key = "\"" + name + "\": ";
    const auto at = head.find(key);
    if (at == std::string::npos)
        return {};
    const auto start = at + key.size();
    if (start < head.size() && head[start] == '"')
        return JsonString(head, start + 1);
    return head.substr(start, head.find_first_of(",}", start) - start);
}

CamsimRequest ParseRequest(const std::string& line)
{
    CamsimRequest request;
    request.method = Field(line, "method");
    request.target = Field(line, "target");
    request.path = Field(line, "path");
    request.authorization = Field(line, "authorization");
    request.user = Field(line, "user");
    request.authorized = Field(line, "authorized") == "true";
    request.tls = Field(line, "tls") == "true";
    request.tlsFailed = Field(line, "tls_failed") == "true";
    request.status = std::atoi(Field(line, "status").c_str());
    request.clientPort = std::atoi(Field(line, "client_port").c_str());
    request.misbehave = Field(line, "misbehave");
    return request;
}

// "name=value" lines, as the camera's own answers and /camsim/rtsp write them.
std::map<std::string, std::string> KeyValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values.emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return values;
}

std::string UrlEncoded(const std::string& text)
{
    static const char* const kHex = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~')
        {
            encoded.push_back(c);
            continue;
        }
        encoded += '%';
        encoded += kHex[byte >> 4];
        encoded += kHex[byte & 0xF];
    }
    return encoded;
}

std::vector<std::string> LogLines(const std::string& file)
{
    std::vector<std::string> lines;
    std::ifstream input(file);
    std::string line;
    while (std::getline(input, line))
    {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}
}

CamsimPeer::CamsimPeer(const CamsimOptions& options) : m_options(options)
{
    const std::filesystem::path directory = MakeSharedDirectory("camsim-");
    if (directory.empty())
    {
        m_startFailure = "no temporary directory";
        return;
    }
    m_directory = directory.string();
    m_logFile = (directory / "requests.jsonl").string();
    // Debian's interpreter: it has the GStreamer bindings, other Pythons on PATH may not.
    const std::string program = options.rtsp ? "/tools/camsim/camsim.py" : "/tools/camsim/http_camera.py";
    std::vector<std::string> arguments = {"/usr/bin/python3",
                                          std::string(BRANTEL_SOURCE_DIR) + program,
                                          "--auth",
                                          options.auth,
                                          "--user",
                                          options.user,
                                          "--password",
                                          options.password,
                                          "--log",
                                          PeerPath(m_logFile)};
    if (options.https)
    {
        m_certificate = (directory / "camera.pem").string();
        arguments.insert(arguments.end(), {"--https-port", std::to_string(options.httpsPort), "--https-bind",
                                           options.httpsBind, "--cert", PeerPath(m_certificate)});
    }
    if (options.rtsp && options.sessionTimeoutSeconds > 0)
        arguments.insert(arguments.end(), {"--session-timeout", std::to_string(options.sessionTimeoutSeconds)});
    arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
    m_process = std::make_unique<ChildProcess>(arguments);
    if (!m_process->IsRunning())
    {
        m_startFailure = "cannot start /usr/bin/python3";
        return;
    }
    // camsim.py writes "RTSP <port>" before the READY line.
    unsigned rtsp = 0;
    std::optional<std::string> line;
    while ((line = m_process->ReadLine(std::chrono::seconds(20))))
    {
        if (line->rfind("FAILED", 0) == 0)
        {
            m_startFailure = *line;
            return;
        }
        if (line->rfind("RTSP ", 0) == 0)
            std::istringstream(line->substr(5)) >> rtsp;
        if (line->rfind("READY ", 0) == 0)
            break;
    }
    if (!line)
    {
        m_startFailure = "no READY line";
        return;
    }
    if (options.rtsp && rtsp == 0)
    {
        m_startFailure = "no RTSP line before " + *line;
        return;
    }
    std::istringstream ports(line->substr(6));
    unsigned http = 0;
    unsigned https = 0;
    ports >> http >> https;
    m_httpPort = static_cast<std::uint16_t>(http);
    m_httpsPort = static_cast<std::uint16_t>(https);
    m_rtspPort = static_cast<std::uint16_t>(rtsp);
}

CamsimPeer::~CamsimPeer()
{
    m_process.reset();
    if (!m_directory.empty())
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_directory, ignored);
    }
}

std::optional<std::string> CamsimPeer::Control(const std::string& target) const
{
    if (m_httpPort == 0)
        return std::nullopt;
    const platform::SocketHandle connection = ConnectLoopback(m_httpPort);
    if (connection == platform::kInvalidSocket)
        return std::nullopt;
    std::string answer;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (SendAll(connection, request))
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ReceiveInto(connection, answer, left) <= 0)
                break;
        }
    }
    platform::CloseSocket(connection);
    const auto headEnd = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.1 200 ", 0) != 0 || headEnd == std::string::npos)
        return std::nullopt;
    return answer.substr(headEnd + 4);
}

void CamsimPeer::Reset()
{
    Control("/camsim/misbehave?clear=1");
    Control("/camsim/auth?schemes=" + m_options.auth + "&user=" + m_options.user + "&password=" + m_options.password +
            "&bad=401");
    if (m_options.rtsp)
        StartRtsp();
}

bool CamsimPeer::SetAnswer(const std::string& path, const std::string& text)
{
    return Control("/camsim/answer?path=" + UrlEncoded(path) + "&text=" + UrlEncoded(text)).has_value();
}

std::string CamsimPeer::RtspUrl(const std::string& path, bool withCredentials) const
{
    const std::string relative = !path.empty() && path[0] == '/' ? path.substr(1) : path;
    const std::string credentials =
        withCredentials ? UrlEncoded(m_options.user) + ":" + UrlEncoded(m_options.password) + "@" : "";
    return "rtsp://" + credentials + "127.0.0.1:" + std::to_string(m_rtspPort) + "/" + relative;
}

bool CamsimPeer::StopRtsp()
{
    const auto answer = Control("/camsim/rtsp?action=stop");
    return answer && KeyValues(*answer)["running"] == "0";
}

bool CamsimPeer::StartRtsp()
{
    const auto answer = Control("/camsim/rtsp?action=start");
    return answer && KeyValues(*answer)["running"] == "1";
}

std::optional<std::map<std::string, std::string>> CamsimPeer::RtspStream(const std::string& path) const
{
    const auto answer = Control("/camsim/rtsp?path=" + UrlEncoded(path));
    if (!answer)
        return std::nullopt;
    return KeyValues(*answer);
}

std::vector<CamsimRequest> CamsimPeer::Requests() const
{
    const std::vector<std::string> lines = LogLines(m_logFile);
    std::vector<CamsimRequest> requests;
    for (std::size_t i = m_forgotten; i < lines.size(); ++i)
        requests.push_back(ParseRequest(lines[i]));
    return requests;
}

void CamsimPeer::ForgetRequests()
{
    m_forgotten = LogLines(m_logFile).size();
}
}
