#include "replay_server.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

namespace kestrav::replay
{
namespace
{
constexpr std::size_t kBatchSize = 256;
// An interleaved connection further behind than this loses packets rather than the server's memory.
constexpr std::size_t kConnectionBacklog = 8 << 20;
constexpr std::size_t kRequestLimit = 64 << 10;
constexpr std::int64_t kReportIntervalNs = 5'000'000'000;
constexpr std::int64_t kLateNs = 20'000'000;
constexpr std::int64_t kIdleWaitMs = 500;
constexpr std::uint64_t kStdinTag = ~std::uint64_t{0};

std::int64_t Monotonic()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void PutU16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void PutU32(std::uint8_t* at, std::uint32_t value)
{
    PutU16(at, value >> 16);
    PutU16(at + 2, value & 0xFFFF);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of a header of a request head, without surrounding blanks; empty when missing.
std::string Header(const std::string& head, const std::string& name)
{
    std::istringstream lines(head);
    std::string line;
    const std::string wanted = Lower(name) + ":";
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (Lower(line.substr(0, wanted.size())) != wanted)
            continue;
        const std::size_t start = line.find_first_not_of(" \t", wanted.size());
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return {};
}

// "client_port=5000-5001" or "interleaved=0-1" out of a Transport header: both numbers, or false.
bool NumberPair(const std::string& transport, const std::string& key, int& first, int& second)
{
    const std::size_t at = Lower(transport).find(key + "=");
    if (at == std::string::npos)
        return false;
    const char* text = transport.c_str() + at + key.size() + 1;
    char* end = nullptr;
    const long a = std::strtol(text, &end, 10);
    if (end == text || a < 0 || a > 65535)
        return false;
    long b = a + 1;
    if (*end == '-')
    {
        const char* next = end + 1;
        b = std::strtol(next, &end, 10);
        if (end == next || b < 0 || b > 65535)
            return false;
    }
    first = static_cast<int>(a);
    second = static_cast<int>(b);
    return true;
}

// The path of an RTSP URL: "rtsp://host:port/a/b" gives "/a/b"; a bare path stays.
std::string UrlPath(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    const std::size_t slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? "/" : url.substr(slash);
}
}

struct ReplayServer::Connection
{
    int descriptor = -1;
    sockaddr_in peer{};
    std::string input;
    std::string output;
    std::size_t written = 0;
    bool wantsWrite = false;
};

struct ReplayServer::Session
{
    std::string id;
    std::string url;
    bool interleaved = false;
    int connection = -1; // interleaved: the connection that carries it
    int rtpChannel = 0;
    int rtcpChannel = 1;
    sockaddr_in rtpAddress{};
    sockaddr_in rtcpAddress{};
    std::uint32_t ssrc = 0;
    std::uint16_t firstSequence = 0;
    std::uint32_t firstTime = 0;
    bool playing = false;
    std::int64_t anchorNs = 0; // when the first pass started
    std::int64_t pausedNs = 0;
    std::size_t next = 0;   // packet of the recording sent next
    std::uint64_t loop = 0; // passes completed
    std::uint64_t sent = 0;
    std::uint64_t octets = 0;
    std::int64_t nextReportNs = 0;
    std::int64_t lastHeardNs = 0;
};

struct ReplayServer::Batch
{
    std::array<mmsghdr, kBatchSize> messages{};
    std::array<std::array<iovec, 2>, kBatchSize> vectors{};
    std::array<std::array<std::uint8_t, 12>, kBatchSize> headers{};
    std::array<sockaddr_in, kBatchSize> addresses{};
    std::size_t count = 0;
};

ReplayServer::ReplayServer(const ReplayRecording& recording, ServerOptions options)
    : m_recording(recording), m_options(std::move(options)), m_random(std::random_device{}()),
      m_batch(std::make_unique<Batch>())
{
}

ReplayServer::~ReplayServer()
{
    StopListening();
    for (int descriptor : {m_rtp, m_rtcp, m_signals, m_epoll})
    {
        if (descriptor >= 0)
            close(descriptor);
    }
}

std::uint16_t ReplayServer::Listen()
{
    if (m_epoll < 0)
    {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        sigset_t set;
        sigemptyset(&set);
        for (int number : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
            sigaddset(&set, number);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        m_signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
        epoll_event event{EPOLLIN, {.fd = m_signals}};
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_signals, &event);
        if (m_options.watchStdin)
        {
            epoll_event input{EPOLLIN, {.u64 = kStdinTag}};
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, STDIN_FILENO, &input);
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port != 0 ? m_port : m_options.port);
    if (inet_pton(AF_INET, m_options.bind.c_str(), &address.sin_addr) != 1)
    {
        m_error = "bad bind address " + m_options.bind;
        return 0;
    }
    if (m_rtp < 0)
    {
        // One even/odd pair for the RTP and RTCP of every UDP session.
        for (int attempt = 0; attempt < 50 && m_rtp < 0; ++attempt)
        {
            const int rtp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const int rtcp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in pair = address;
            pair.sin_port = htons(static_cast<std::uint16_t>(20000 + 2 * (m_random() % 20000)));
            sockaddr_in odd = pair;
            odd.sin_port = htons(static_cast<std::uint16_t>(ntohs(pair.sin_port) + 1));
            if (bind(rtp, reinterpret_cast<sockaddr*>(&pair), sizeof pair) == 0 &&
                bind(rtcp, reinterpret_cast<sockaddr*>(&odd), sizeof odd) == 0)
            {
                m_rtp = rtp;
                m_rtcp = rtcp;
                m_udpPort = ntohs(pair.sin_port);
                break;
            }
            close(rtp);
            close(rtcp);
        }
        if (m_rtp < 0)
        {
            m_error = "no free UDP port pair";
            return 0;
        }
        const int buffer = 8 << 20;
        setsockopt(m_rtp, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        // A client that went away without TEARDOWN answers with "port unreachable"; heard, it ends the session
        // at once instead of a minute of packets into the void that a benchmark would count as the source's.
        const int yes = 1;
        setsockopt(m_rtp, IPPROTO_IP, IP_RECVERR, &yes, sizeof yes);
        for (int descriptor : {m_rtp, m_rtcp})
        {
            epoll_event event{EPOLLIN, {.fd = descriptor}};
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, descriptor, &event);
        }
    }
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t length = sizeof address;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listen, 128) != 0 ||
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        m_error = std::string("cannot listen: ") + std::strerror(errno);
        close(m_listen);
        m_listen = -1;
        return 0;
    }
    epoll_event event{EPOLLIN, {.fd = m_listen}};
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listen, &event);
    m_port = ntohs(address.sin_port);
    return m_port;
}

void ReplayServer::StopListening()
{
    if (m_listen >= 0)
    {
        close(m_listen);
        m_listen = -1;
    }
    while (!m_connections.empty())
        CloseConnection(m_connections.begin()->first);
    m_sessions.clear();
}

void ReplayServer::Run()
{
    std::array<epoll_event, 64> events{};
    while (m_running)
    {
        const std::int64_t nextDue = SendDue(Monotonic());
        const std::int64_t waitNs = nextDue - Monotonic();
        const int waitMs =
            nextDue < 0 ? kIdleWaitMs
                        : static_cast<int>(std::clamp<std::int64_t>((waitNs + 999'999) / 1'000'000, 0, kIdleWaitMs));
        const int ready = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), waitMs);
        for (int i = 0; i < ready; ++i)
        {
            const epoll_event& event = events[static_cast<std::size_t>(i)];
            if (event.data.u64 == kStdinTag)
            {
                char buffer[256];
                if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                    m_running = false;
                continue;
            }
            const int descriptor = event.data.fd;
            if (descriptor == m_signals)
                HandleSignals();
            else if (descriptor == m_listen)
                Accept();
            else if (descriptor == m_rtp || descriptor == m_rtcp)
                ReadUdp(descriptor);
            else if (const auto found = m_connections.find(descriptor); found != m_connections.end())
            {
                Connection& connection = *found->second;
                if (event.events & EPOLLOUT)
                    WriteConnection(connection);
                if (m_connections.count(descriptor) && (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                    ReadConnection(connection);
            }
        }
        // UDP sessions whose client went quiet end, as a camera's do.
        const std::int64_t now = Monotonic();
        for (auto it = m_sessions.begin(); it != m_sessions.end();)
        {
            const Session& session = *it->second;
            const bool idle = !session.interleaved &&
                              now - session.lastHeardNs > std::int64_t{m_options.sessionTimeoutSeconds} * 1'000'000'000;
            it = idle ? m_sessions.erase(it) : std::next(it);
        }
    }
}

void ReplayServer::HandleSignals()
{
    signalfd_siginfo information{};
    while (read(m_signals, &information, sizeof information) == static_cast<ssize_t>(sizeof information))
    {
        switch (information.ssi_signo)
        {
        case SIGUSR1:
            StopListening();
            std::printf("STOPPED\n");
            break;
        case SIGUSR2:
            if (m_listen < 0 && Listen() == 0)
                std::printf("FAILED %s\n", m_error.c_str());
            else
                std::printf("LISTENING %u\n", m_port);
            break;
        default:
            m_running = false;
        }
        std::fflush(stdout);
    }
}

void ReplayServer::Accept()
{
    for (;;)
    {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int descriptor =
            accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0)
            return;
        // A streaming camera sends each interleaved packet as it is due, as real servers do; with Nagle's
        // algorithm the packets would wait for the client's acknowledgements instead, and over loopback
        // the client's reads would pay for sending them.
        const int noDelay = 1;
        setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        auto connection = std::make_unique<Connection>();
        connection->descriptor = descriptor;
        connection->peer = peer;
        epoll_event event{EPOLLIN, {.fd = descriptor}};
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, descriptor, &event);
        m_connections[descriptor] = std::move(connection);
    }
}

void ReplayServer::CloseConnection(int descriptor)
{
    // Interleaved sessions live on their connection; UDP sessions outlive it until they time out.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = it->second->interleaved && it->second->connection == descriptor ? m_sessions.erase(it) : std::next(it);
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, descriptor, nullptr);
    close(descriptor);
    m_connections.erase(descriptor);
}

void ReplayServer::ReadConnection(Connection& connection)
{
    const int descriptor = connection.descriptor;
    char buffer[16384];
    for (;;)
    {
        const ssize_t received = recv(descriptor, buffer, sizeof buffer, 0);
        if (received == 0 || (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        {
            CloseConnection(descriptor);
            return;
        }
        if (received < 0)
            break;
        connection.input.append(buffer, static_cast<std::size_t>(received));
    }
    std::string& input = connection.input;
    while (!input.empty())
    {
        if (input[0] == '$')
        {
            // RTCP (or anything) interleaved by the client: skipped whole.
            if (input.size() < 4)
                break;
            const std::size_t size = static_cast<unsigned char>(input[2]) << 8 | static_cast<unsigned char>(input[3]);
            if (input.size() < 4 + size)
                break;
            input.erase(0, 4 + size);
            continue;
        }
        const std::size_t end = input.find("\r\n\r\n");
        if (end == std::string::npos)
        {
            if (input.size() > kRequestLimit)
                CloseConnection(descriptor);
            return;
        }
        const std::string head = input.substr(0, end + 4);
        const std::size_t body =
            static_cast<std::size_t>(std::max(0L, std::atol(Header(head, "Content-Length").c_str())));
        if (body > kRequestLimit)
        {
            CloseConnection(descriptor);
            return;
        }
        if (input.size() < end + 4 + body)
            break;
        input.erase(0, end + 4 + body);
        if (!HandleRequest(connection, head))
        {
            CloseConnection(descriptor);
            return;
        }
    }
}

bool ReplayServer::HandleRequest(Connection& connection, const std::string& head)
{
    std::istringstream requestLine(head.substr(0, head.find("\r\n")));
    std::string method;
    std::string url;
    std::string version;
    requestLine >> method >> url >> version;
    if (version.rfind("RTSP/", 0) != 0)
        return false;
    const std::string cseq = Header(head, "CSeq");
    std::string sessionId = Header(head, "Session");
    sessionId = sessionId.substr(0, sessionId.find(';'));
    const std::int64_t now = Monotonic();
    Session* session = nullptr;
    if (const auto found = m_sessions.find(sessionId); !sessionId.empty() && found != m_sessions.end())
    {
        session = found->second.get();
        session->lastHeardNs = now;
    }
    std::string status = "200 OK";
    std::string headers;
    std::string body;
    const std::string path = UrlPath(url);
    const bool served = path.rfind(m_options.pathPrefix, 0) == 0;

    if (method == "OPTIONS")
        headers = "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, GET_PARAMETER, SET_PARAMETER, TEARDOWN\r\n";
    else if (method == "DESCRIBE")
    {
        if (!served)
            status = "404 Not Found";
        else
        {
            body = Describe(url);
            headers =
                "Content-Type: application/sdp\r\nContent-Base: " + url + (url.ends_with("/") ? "" : "/") + "\r\n";
        }
    }
    else if (method == "SETUP")
    {
        const std::string transport = Header(head, "Transport");
        int first = 0;
        int second = 0;
        const bool interleaved = Lower(transport).find("rtp/avp/tcp") != std::string::npos;
        if (!served)
            status = "404 Not Found";
        else if (!sessionId.empty() && session == nullptr)
            status = "454 Session Not Found";
        else if (!NumberPair(transport, interleaved ? "interleaved" : "client_port", first, second))
            status = "461 Unsupported Transport";
        else
        {
            if (session == nullptr)
            {
                auto created = std::make_unique<Session>();
                char id[17];
                std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(m_random()));
                created->id = id;
                created->ssrc = static_cast<std::uint32_t>(m_random());
                created->firstSequence = static_cast<std::uint16_t>(m_random());
                created->firstTime = static_cast<std::uint32_t>(m_random());
                created->lastHeardNs = now;
                session = created.get();
                m_sessions[created->id] = std::move(created);
                ++m_totals.sessions;
            }
            session->url = url;
            session->interleaved = interleaved;
            char ssrc[9];
            std::snprintf(ssrc, sizeof ssrc, "%08X", session->ssrc);
            if (interleaved)
            {
                session->connection = connection.descriptor;
                session->rtpChannel = first;
                session->rtcpChannel = second;
                headers = "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(first) + "-" +
                          std::to_string(second) + ";ssrc=" + ssrc + "\r\n";
            }
            else
            {
                session->rtpAddress = connection.peer;
                session->rtpAddress.sin_port = htons(static_cast<std::uint16_t>(first));
                session->rtcpAddress = connection.peer;
                session->rtcpAddress.sin_port = htons(static_cast<std::uint16_t>(second));
                headers = "Transport: RTP/AVP;unicast;client_port=" + std::to_string(first) + "-" +
                          std::to_string(second) + ";server_port=" + std::to_string(m_udpPort) + "-" +
                          std::to_string(m_udpPort + 1) + ";ssrc=" + ssrc + "\r\n";
            }
            sessionId = session->id;
        }
    }
    else if (method == "PLAY" || method == "PAUSE" || method == "TEARDOWN" || method == "GET_PARAMETER" ||
             method == "SET_PARAMETER")
    {
        if (session == nullptr && method != "GET_PARAMETER" && method != "SET_PARAMETER")
            status = "454 Session Not Found";
        else if (method == "PLAY")
        {
            if (!session->playing)
            {
                if (session->anchorNs == 0)
                {
                    // Sessions that start together would send their key frames together, a burst no set of
                    // real cameras makes; a random delay of the first packet spreads them.
                    const std::int64_t stagger = std::int64_t{m_options.staggerMs} * 1'000'000;
                    session->anchorNs = now + (stagger > 0 ? static_cast<std::int64_t>(m_random() % stagger) : 0);
                }
                else
                {
                    // The time stamps go on with the clock across the pause, as a live camera's do.
                    const std::int64_t pause = now - session->pausedNs;
                    session->anchorNs += pause;
                    session->firstTime += static_cast<std::uint32_t>(pause * 9 / 100'000);
                }
                session->playing = true;
                session->nextReportNs = now + kReportIntervalNs / 5;
            }
            const std::uint64_t sequence =
                session->firstSequence + session->loop * m_recording.Packets().size() + session->next;
            const std::uint32_t time = session->firstTime +
                                       static_cast<std::uint32_t>(session->loop * m_recording.LoopTicks()) +
                                       m_recording.Packets()[session->next].ticks;
            headers = "Range: npt=now-\r\nRTP-Info: url=" + session->url + ";seq=" + std::to_string(sequence & 0xFFFF) +
                      ";rtptime=" + std::to_string(time) + "\r\n";
        }
        else if (method == "PAUSE")
        {
            if (session->playing)
            {
                session->playing = false;
                session->pausedNs = now;
            }
        }
        else if (method == "TEARDOWN")
        {
            m_sessions.erase(session->id);
            session = nullptr;
        }
    }
    else
        status = "501 Not Implemented";

    std::string answer = "RTSP/1.0 " + status + "\r\nCSeq: " + cseq + "\r\nServer: brantel-replay-server\r\n";
    if (session != nullptr && status.rfind("200", 0) == 0)
        answer += "Session: " + session->id + ";timeout=" + std::to_string(m_options.sessionTimeoutSeconds) + "\r\n";
    answer += headers;
    if (!body.empty())
        answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    answer += "\r\n" + body;
    Queue(connection, answer, false);
    return true;
}

std::string ReplayServer::Describe(const std::string& url) const
{
    std::string sdp = "v=0\r\n"
                      "o=- 1 1 IN IP4 " +
                      m_options.bind +
                      "\r\n"
                      "s=Replay\r\n"
                      "c=IN IP4 0.0.0.0\r\n"
                      "t=0 0\r\n"
                      "a=control:*\r\n"
                      "a=range:npt=now-\r\n"
                      "m=video 0 RTP/AVP 96\r\n"
                      "a=rtpmap:96 " +
                      m_recording.Encoding() + "\r\n";
    if (!m_recording.Fmtp().empty())
        sdp += "a=fmtp:96 " + m_recording.Fmtp() + "\r\n";
    sdp += "a=framerate:" + std::to_string(m_recording.Fps()) + "\r\n";
    if (m_recording.Width() > 0 && m_recording.Height() > 0)
        sdp += "a=x-dimensions:" + std::to_string(m_recording.Width()) + "," + std::to_string(m_recording.Height()) +
               "\r\n";
    sdp += "a=control:stream=0\r\n";
    static_cast<void>(url);
    return sdp;
}

void ReplayServer::Queue(Connection& connection, const std::string& bytes, bool droppable)
{
    if (droppable && connection.output.size() - connection.written > kConnectionBacklog)
    {
        ++m_totals.dropped;
        return;
    }
    if (connection.written > 0 && connection.written == connection.output.size())
    {
        connection.output.clear();
        connection.written = 0;
    }
    connection.output += bytes;
    if (!droppable && !connection.wantsWrite)
        WriteConnection(connection);
}

void ReplayServer::WriteConnection(Connection& connection)
{
    while (connection.written < connection.output.size())
    {
        const ssize_t sent = send(connection.descriptor, connection.output.data() + connection.written,
                                  connection.output.size() - connection.written, MSG_NOSIGNAL);
        if (sent < 0)
        {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return; // the read side sees the end and closes it
            break;
        }
        connection.written += static_cast<std::size_t>(sent);
    }
    if (connection.written == connection.output.size())
    {
        connection.output.clear();
        connection.written = 0;
    }
    else if (connection.written > (1 << 20))
    {
        connection.output.erase(0, connection.written);
        connection.written = 0;
    }
    const bool wants = !connection.output.empty();
    if (wants != connection.wantsWrite)
    {
        connection.wantsWrite = wants;
        const std::uint32_t watched = wants ? EPOLLIN | EPOLLOUT : EPOLLIN;
        epoll_event event{watched, {.fd = connection.descriptor}};
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, connection.descriptor, &event);
    }
}

void ReplayServer::ReadUdp(int descriptor)
{
    std::uint8_t buffer[2048];
    while (descriptor == m_rtp)
    {
        sockaddr_in to{};
        char control[512];
        iovec vector{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (recvmsg(m_rtp, &message, MSG_ERRQUEUE) < 0)
            break;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header))
        {
            if (header->cmsg_level != IPPROTO_IP || header->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err error{};
            std::memcpy(&error, CMSG_DATA(header), sizeof error);
            if (error.ee_errno != ECONNREFUSED)
                continue;
            for (auto it = m_sessions.begin(); it != m_sessions.end();)
            {
                const sockaddr_in& own = it->second->rtpAddress;
                const bool gone = !it->second->interleaved && own.sin_port == to.sin_port &&
                                  own.sin_addr.s_addr == to.sin_addr.s_addr;
                it = gone ? m_sessions.erase(it) : std::next(it);
            }
        }
    }
    for (;;)
    {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t received =
            recvfrom(descriptor, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (received < 0)
            return;
        // Receiver reports (and hole punching) keep a UDP session alive, as RTSP keep-alives do.
        const std::int64_t now = Monotonic();
        for (auto& [id, session] : m_sessions)
        {
            const sockaddr_in& own = descriptor == m_rtcp ? session->rtcpAddress : session->rtpAddress;
            if (!session->interleaved && own.sin_port == from.sin_port && own.sin_addr.s_addr == from.sin_addr.s_addr)
                session->lastHeardNs = now;
        }
    }
}

std::uint32_t ReplayServer::RtpTimeAt(const Session& session, std::int64_t now) const
{
    return session.firstTime + static_cast<std::uint32_t>((now - session.anchorNs) * 9 / 100'000);
}

std::int64_t ReplayServer::SendDue(std::int64_t now)
{
    const std::vector<RecordedPacket>& packets = m_recording.Packets();
    std::int64_t earliest = -1;
    for (auto& [id, pointer] : m_sessions)
    {
        Session& session = *pointer;
        if (!session.playing)
            continue;
        for (;;)
        {
            const std::int64_t due = session.anchorNs + static_cast<std::int64_t>(session.loop) * m_recording.LoopNs() +
                                     packets[session.next].dueNs;
            if (due > now)
            {
                earliest = earliest < 0 ? due : std::min(earliest, due);
                break;
            }
            // A source that cannot keep time makes a benchmark's losses its own: it is reported, not hidden.
            if (now - due > kLateNs)
                ++m_totals.late;
            m_totals.maxLateNs = std::max(m_totals.maxLateNs, now - due);
            SendPacket(session, session.next, session.loop);
            if (++session.next == packets.size())
            {
                session.next = 0;
                ++session.loop;
            }
        }
        if (now >= session.nextReportNs)
        {
            SendReport(session, now);
            session.nextReportNs = now + kReportIntervalNs;
        }
        earliest = earliest < 0 ? session.nextReportNs : std::min(earliest, session.nextReportNs);
    }
    FlushUdp();
    // Interleaved packets were only queued: one write per connection and round.
    for (auto& [descriptor, connection] : m_connections)
    {
        if (!connection->wantsWrite && connection->written < connection->output.size())
            WriteConnection(*connection);
    }
    return earliest;
}

void ReplayServer::SendPacket(Session& session, std::size_t index, std::uint64_t loop)
{
    const RecordedPacket& packet = m_recording.Packets()[index];
    const std::span<const std::uint8_t> bytes = m_recording.Bytes(packet);
    std::array<std::uint8_t, 12> header{};
    std::copy_n(bytes.begin(), header.size(), header.begin());
    PutU16(&header[2], static_cast<std::uint32_t>(session.firstSequence + loop * m_recording.Packets().size() + index));
    PutU32(&header[4], session.firstTime + static_cast<std::uint32_t>(loop * m_recording.LoopTicks()) + packet.ticks);
    PutU32(&header[8], session.ssrc);
    ++session.sent;
    session.octets += bytes.size() - header.size();
    ++m_totals.packets;
    m_totals.bytes += bytes.size();
    if (session.interleaved)
    {
        const auto found = m_connections.find(session.connection);
        if (found == m_connections.end())
            return;
        std::string frame(4 + bytes.size(), '\0');
        frame[0] = '$';
        frame[1] = static_cast<char>(session.rtpChannel);
        PutU16(reinterpret_cast<std::uint8_t*>(frame.data() + 2), static_cast<std::uint32_t>(bytes.size()));
        std::copy(header.begin(), header.end(), frame.begin() + 4);
        std::copy(bytes.begin() + 12, bytes.end(), frame.begin() + 16);
        Queue(*found->second, frame, true);
        return;
    }
    Batch& batch = *m_batch;
    const std::size_t slot = batch.count++;
    batch.headers[slot] = header;
    batch.addresses[slot] = session.rtpAddress;
    batch.vectors[slot][0] = iovec{batch.headers[slot].data(), header.size()};
    batch.vectors[slot][1] = iovec{const_cast<std::uint8_t*>(bytes.data() + 12), bytes.size() - 12};
    msghdr& message = batch.messages[slot].msg_hdr;
    message = msghdr{};
    message.msg_name = &batch.addresses[slot];
    message.msg_namelen = sizeof(sockaddr_in);
    message.msg_iov = batch.vectors[slot].data();
    message.msg_iovlen = 2;
    if (batch.count == kBatchSize)
        FlushUdp();
}

void ReplayServer::FlushUdp()
{
    Batch& batch = *m_batch;
    std::size_t done = 0;
    while (done < batch.count)
    {
        const int sent = sendmmsg(m_rtp, batch.messages.data() + done, static_cast<unsigned>(batch.count - done), 0);
        if (sent < 0)
        {
            if (errno == EINTR)
                continue;
            // A full socket buffer (or a client port that refuses): the rest of the batch is lost.
            m_totals.dropped += errno == ECONNREFUSED ? 0 : batch.count - done;
            done += errno == ECONNREFUSED ? 1 : batch.count - done;
            continue;
        }
        done += static_cast<std::size_t>(sent);
    }
    batch.count = 0;
}

void ReplayServer::SendReport(Session& session, std::int64_t now)
{
    // A sender report with the wall clock beside the RTP clock, then the CNAME (RFC 3550, 6.4.1 and 6.5).
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const std::uint64_t seconds = static_cast<std::uint64_t>(wall.tv_sec) + 2'208'988'800ULL;
    const std::uint64_t fraction = (static_cast<std::uint64_t>(wall.tv_nsec) << 32) / 1'000'000'000;
    static constexpr char kName[] = "replay";
    std::array<std::uint8_t, 28 + 8 + 4 + 4> report{};
    report[0] = 0x80;
    report[1] = 200;
    PutU16(&report[2], 6);
    PutU32(&report[4], session.ssrc);
    PutU32(&report[8], static_cast<std::uint32_t>(seconds));
    PutU32(&report[12], static_cast<std::uint32_t>(fraction));
    PutU32(&report[16], RtpTimeAt(session, now));
    PutU32(&report[20], static_cast<std::uint32_t>(session.sent));
    PutU32(&report[24], static_cast<std::uint32_t>(session.octets));
    std::uint8_t* sdes = &report[28];
    sdes[0] = 0x81;
    sdes[1] = 202;
    PutU16(&sdes[2], 3);
    PutU32(&sdes[4], session.ssrc);
    sdes[8] = 1; // CNAME
    sdes[9] = sizeof kName - 1;
    std::memcpy(&sdes[10], kName, sizeof kName - 1); // then zero padding to the word
    if (session.interleaved)
    {
        const auto found = m_connections.find(session.connection);
        if (found == m_connections.end())
            return;
        std::string frame(4, '\0');
        frame[0] = '$';
        frame[1] = static_cast<char>(session.rtcpChannel);
        PutU16(reinterpret_cast<std::uint8_t*>(frame.data() + 2), report.size());
        frame.append(reinterpret_cast<const char*>(report.data()), report.size());
        Queue(*found->second, frame, true);
        return;
    }
    sendto(m_rtcp, report.data(), report.size(), 0, reinterpret_cast<const sockaddr*>(&session.rtcpAddress),
           sizeof session.rtcpAddress);
}
}
