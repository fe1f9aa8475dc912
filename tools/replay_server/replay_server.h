// A minimal RTSP server that plays one recorded RTP stream to any number of sessions at once, each paced by
// the recording's time stamps and looped with its own continuous sequence numbers and time stamps. One
// thread, one epoll loop: RTSP connections are non-blocking, UDP packets of all sessions leave in batches
// through sendmmsg on one socket pair, interleaved packets are queued on their connection.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "replay_recording.h"

namespace kestrav::replay
{
struct ServerOptions
{
    std::string bind = "127.0.0.1";
    std::uint16_t port = 0;
    // Requests for paths that start so are served the recording; others get 404.
    std::string pathPrefix = "/rtsph264";
    // Without a request or RTCP from its client for this long, a UDP session ends.
    int sessionTimeoutSeconds = 60;
    bool watchStdin = true;
    // The first packet of a session leaves up to this much after its PLAY (random per session).
    int staggerMs = 0;
};

struct ServerTotals
{
    std::uint64_t packets = 0;
    std::uint64_t bytes = 0;
    std::uint64_t sessions = 0;
    // Packets not sent: an interleaved connection that fell too far behind, or a full UDP socket.
    std::uint64_t dropped = 0;
    // Packets sent more than 20 ms after their time (the server fell behind), and the worst lateness.
    std::uint64_t late = 0;
    std::int64_t maxLateNs = 0;
};

class ReplayServer
{
public:
    ReplayServer(const ReplayRecording& recording, ServerOptions options);
    ~ReplayServer();
    ReplayServer(const ReplayServer&) = delete;
    ReplayServer& operator=(const ReplayServer&) = delete;

    // Listens; the port, or 0 with the reason in Error().
    std::uint16_t Listen();
    const std::string& Error() const { return m_error; }
    // Runs until SIGINT, SIGTERM or the end of stdin. SIGUSR1 stops listening and ends every connection and
    // session, as a camera switched off; SIGUSR2 listens again on the same port. Each prints a line.
    void Run();
    const ServerTotals& Totals() const { return m_totals; }

private:
    struct Connection;
    struct Session;

    void StopListening();
    void Accept();
    void ReadConnection(Connection& connection);
    void WriteConnection(Connection& connection);
    void CloseConnection(int descriptor);
    bool HandleRequest(Connection& connection, const std::string& head);
    void ReadUdp(int descriptor);
    void HandleSignals();

    std::int64_t SendDue(std::int64_t now);
    void SendPacket(Session& session, std::size_t index, std::uint64_t loop);
    void SendReport(Session& session, std::int64_t now);
    void FlushUdp();
    void Queue(Connection& connection, const std::string& bytes, bool droppable);
    std::string Describe(const std::string& url) const;
    std::uint32_t RtpTimeAt(const Session& session, std::int64_t now) const;

    const ReplayRecording& m_recording;
    ServerOptions m_options;
    std::string m_error;
    int m_epoll = -1;
    int m_listen = -1;
    int m_rtp = -1;
    int m_rtcp = -1;
    int m_signals = -1;
    std::uint16_t m_port = 0;
    std::uint16_t m_udpPort = 0;
    bool m_running = true;
    std::map<int, std::unique_ptr<Connection>> m_connections;
    std::map<std::string, std::unique_ptr<Session>> m_sessions;
    std::mt19937_64 m_random;
    ServerTotals m_totals;

    // The UDP batch being filled: one header copy per packet, the payload straight from the recording.
    struct Batch;
    std::unique_ptr<Batch> m_batch;
};
}
