// brantel-replay-load: a cheap receiver of many RTSP sessions at once, to measure what the replay server
// sustains without the module in the way. Opens N sessions, receives for a while (recvmmsg over UDP, or
// interleaved in the RTSP connection), counts packets and sequence gaps per session, and prints one line:
//
//   brantel-replay-load --url rtsp://127.0.0.1:PORT/rtsph2641080p [--sessions N] [--seconds S] [--transport udp|tcp]
//   "LOAD sessions=N transport=T seconds=S packets=P lost=L mbit_s=M worst_session_lost=W cpu_user_s=U cpu_system_s=Y"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct Receiver
{
    int control = -1;
    int rtp = -1;
    std::string sessionId;
    std::string pending; // interleaved bytes not yet framed
    bool started = false;
    std::uint16_t expected = 0;
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lost = 0;
};

// Sends a request and reads its answer head and body; empty on failure.
std::string Ask(int control, const std::string& request)
{
    if (send(control, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return {};
    std::string answer;
    char buffer[4096];
    for (;;)
    {
        const std::size_t end = answer.find("\r\n\r\n");
        if (end != std::string::npos)
        {
            const std::size_t length = answer.find("Content-Length: ");
            const std::size_t body =
                length == std::string::npos ? 0 : std::strtoul(answer.c_str() + length + 16, nullptr, 10);
            if (answer.size() >= end + 4 + body)
                return answer;
        }
        pollfd watched{control, POLLIN, 0};
        if (poll(&watched, 1, 5000) <= 0)
            return {};
        const ssize_t received = recv(control, buffer, sizeof buffer, 0);
        if (received <= 0)
            return {};
        answer.append(buffer, static_cast<std::size_t>(received));
    }
}

void Count(Receiver& receiver, const std::uint8_t* packet, std::size_t size)
{
    // RTCP aimed at a neighbour's port (client ports are not reserved in pairs here) is not counted.
    if (size < 12 || (packet[1] >= 200 && packet[1] <= 204))
        return;
    const std::uint16_t sequence = static_cast<std::uint16_t>(packet[2] << 8 | packet[3]);
    const std::uint16_t step = static_cast<std::uint16_t>(sequence - receiver.expected);
    if (receiver.started && step >= 0x8000)
        return; // late or repeated: no loss, and the expected number stays
    if (receiver.started)
        receiver.lost += step;
    receiver.started = true;
    receiver.expected = static_cast<std::uint16_t>(sequence + 1);
    ++receiver.packets;
    receiver.bytes += size;
}

bool Open(Receiver& receiver, const std::string& url, bool interleaved, int cseq)
{
    const std::size_t hostStart = url.find("://") + 3;
    const std::size_t colon = url.find(':', hostStart);
    const std::size_t slash = url.find('/', hostStart);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(std::atoi(url.c_str() + colon + 1)));
    inet_pton(AF_INET, url.substr(hostStart, colon - hostStart).c_str(), &server.sin_addr);
    static_cast<void>(slash);
    receiver.control = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(receiver.control, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
        return false;
    std::string transport = "RTP/AVP/TCP;unicast;interleaved=0-1";
    if (!interleaved)
    {
        receiver.rtp = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        const int buffer = 4 << 20;
        setsockopt(receiver.rtp, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        if (bind(receiver.rtp, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            getsockname(receiver.rtp, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return false;
        const int port = ntohs(local.sin_port);
        transport = "RTP/AVP;unicast;client_port=" + std::to_string(port) + "-" + std::to_string(port + 1);
    }
    const std::string tail = "\r\nCSeq: ";
    if (Ask(receiver.control, "DESCRIBE " + url + " RTSP/1.0" + tail + std::to_string(cseq) + "\r\n\r\n")
            .rfind("RTSP/1.0 200", 0) != 0)
        return false;
    const std::string setup =
        Ask(receiver.control, "SETUP " + url + "/stream=0 RTSP/1.0" + tail + std::to_string(cseq + 1) +
                                  "\r\nTransport: " + transport + "\r\n\r\n");
    const std::size_t session = setup.find("Session: ");
    if (setup.rfind("RTSP/1.0 200", 0) != 0 || session == std::string::npos)
        return false;
    receiver.sessionId = setup.substr(session + 9, setup.find_first_of(";\r", session) - session - 9);
    return Ask(receiver.control, "PLAY " + url + " RTSP/1.0" + tail + std::to_string(cseq + 2) +
                                     "\r\nSession: " + receiver.sessionId + "\r\n\r\n")
               .rfind("RTSP/1.0 200", 0) == 0;
}

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}
}

int main(int argc, char** argv)
{
    std::string url;
    int sessions = 1;
    double seconds = 10;
    bool interleaved = false;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string name = argv[i];
        if (name == "--url")
            url = argv[i + 1];
        else if (name == "--sessions")
            sessions = std::max(1, std::atoi(argv[i + 1]));
        else if (name == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (name == "--transport")
            interleaved = std::string(argv[i + 1]) == "tcp";
    }
    if (url.rfind("rtsp://", 0) != 0)
    {
        std::fprintf(stderr, "usage: brantel-replay-load --url rtsp://HOST:PORT/PATH [--sessions N] [--seconds S] "
                             "[--transport udp|tcp]\n");
        return 2;
    }
    std::vector<std::unique_ptr<Receiver>> receivers;
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < sessions; ++i)
    {
        auto receiver = std::make_unique<Receiver>();
        if (!Open(*receiver, url, interleaved, 1))
        {
            std::printf("FAILED session %d did not start\n", i + 1);
            return 1;
        }
        const int descriptor = interleaved ? receiver->control : receiver->rtp;
        epoll_event event{EPOLLIN, {.ptr = receiver.get()}};
        epoll_ctl(epoll, EPOLL_CTL_ADD, descriptor, &event);
        receivers.push_back(std::move(receiver));
    }

    constexpr std::size_t kBatch = 64;
    std::vector<std::array<std::uint8_t, 2048>> buffers(kBatch);
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> messages{};
    for (std::size_t i = 0; i < kBatch; ++i)
    {
        vectors[i] = iovec{buffers[i].data(), buffers[i].size()};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    std::array<std::uint8_t, 65536> stream{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::array<epoll_event, 128> events{};
    while (std::chrono::steady_clock::now() < end)
    {
        const int ready = epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
        for (int e = 0; e < ready; ++e)
        {
            Receiver& receiver = *static_cast<Receiver*>(events[static_cast<std::size_t>(e)].data.ptr);
            if (!interleaved)
            {
                int count = 0;
                while ((count = recvmmsg(receiver.rtp, messages.data(), kBatch, MSG_DONTWAIT, nullptr)) > 0)
                {
                    for (int i = 0; i < count; ++i)
                        Count(receiver, buffers[static_cast<std::size_t>(i)].data(),
                              messages[static_cast<std::size_t>(i)].msg_len);
                }
                continue;
            }
            const ssize_t received = recv(receiver.control, stream.data(), stream.size(), MSG_DONTWAIT);
            if (received <= 0)
                continue;
            receiver.pending.append(reinterpret_cast<const char*>(stream.data()), static_cast<std::size_t>(received));
            std::size_t at = 0;
            while (receiver.pending.size() - at >= 4 && receiver.pending[at] == '$')
            {
                const std::size_t size = static_cast<unsigned char>(receiver.pending[at + 2]) << 8 |
                                         static_cast<unsigned char>(receiver.pending[at + 3]);
                if (receiver.pending.size() - at < 4 + size)
                    break;
                if (receiver.pending[at + 1] == 0)
                    Count(receiver, reinterpret_cast<const std::uint8_t*>(receiver.pending.data() + at + 4), size);
                at += 4 + size;
            }
            receiver.pending.erase(0, at);
        }
    }

    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lost = 0;
    std::uint64_t worst = 0;
    for (const auto& receiver : receivers)
    {
        packets += receiver->packets;
        bytes += receiver->bytes;
        lost += receiver->lost;
        worst = std::max(worst, receiver->lost);
        const std::string teardown =
            "TEARDOWN " + url + " RTSP/1.0\r\nCSeq: 9\r\nSession: " + receiver->sessionId + "\r\n\r\n";
        send(receiver->control, teardown.data(), teardown.size(), MSG_NOSIGNAL);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("LOAD sessions=%d transport=%s seconds=%.1f packets=%llu lost=%llu mbit_s=%.1f worst_session_lost=%llu "
                "cpu_user_s=%.3f cpu_system_s=%.3f\n",
                sessions, interleaved ? "tcp" : "udp", seconds, static_cast<unsigned long long>(packets),
                static_cast<unsigned long long>(lost), static_cast<double>(bytes) * 8 / seconds / 1e6,
                static_cast<unsigned long long>(worst), Seconds(usage.ru_utime), Seconds(usage.ru_stime));
    for (const auto& receiver : receivers)
    {
        close(receiver->control);
        if (receiver->rtp >= 0)
            close(receiver->rtp);
    }
    close(epoll);
    return 0;
}
