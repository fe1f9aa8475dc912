// The RTSP client against a scripted server: request texts, URL rules, challenges and the
// response reader, byte for byte.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <thread>

#include "core/parameter_sets.h"
#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_client.h"
#include "support/recording_owner.h"
#include "support/scripted_rtsp_server.h"
#include "support/test_sockets.h"
#include "text/digest_auth.h"

namespace kestrav
{
namespace
{
using testing::ScriptedRtspServer;

constexpr const char* kSdp = "v=0\r\n"
                             "o=- 0 0 IN IP4 127.0.0.1\r\n"
                             "s=Camera\r\n"
                             "t=0 0\r\n"
                             "m=video 0 RTP/AVP 96\r\n"
                             "a=rtpmap:96 H264/90000\r\n"
                             "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA==\r\n"
                             "a=control:%s\r\n";

std::string Sdp(const std::string& control)
{
    char text[1024];
    std::snprintf(text, sizeof text, kSdp, control.c_str());
    return text;
}

// An answer echoing the request's CSeq, with the given headers and body.
std::string Answer(const std::string& request, const std::string& status, const std::string& headers = "",
                   const std::string& body = "")
{
    std::string text = "RTSP/1.0 " + status + "\r\nCSeq: " + ScriptedRtspServer::CSeqOf(request) + "\r\n" + headers;
    if (!body.empty())
        text += "Content-Type: application/sdp\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    return text + "\r\n" + body;
}

std::string Method(const std::string& request)
{
    return request.substr(0, request.find(' '));
}

// The value of a request header, or empty.
std::string Header(const std::string& request, const std::string& name)
{
    const auto start = request.find("\r\n" + name + ": ");
    if (start == std::string::npos)
        return {};
    const auto value = start + name.size() + 4;
    return request.substr(value, request.find("\r\n", value) - value);
}

std::string RequestLine(const std::string& request)
{
    return request.substr(0, request.find("\r\n"));
}

// A camera that plays along: DESCRIBE with `describeHeaders` and an SDP with `control`.
ScriptedRtspServer::Script Camera(const std::string& control, const std::string& describeHeaders = "")
{
    return [=](const std::string& request, int) -> std::string
    {
        const std::string method = Method(request);
        if (method == "DESCRIBE")
            return Answer(request, "200 OK", describeHeaders, Sdp(control));
        if (method == "SETUP")
            return Answer(request, "200 OK",
                          "Session: 12345678;timeout=60\r\nTransport: RTP/AVP;unicast;client_port=4000-4001;"
                          "server_port=6970-6971\r\n");
        return Answer(request, "200 OK", "Session: 12345678\r\n");
    };
}

class NullUser : public IRTPReceiverUser
{
public:
    void OnInterleavedPacket(const CRTPPacket& packet) override
    {
        lastInterleavedSequence = packet.GetSequenceNumber();
        ++interleavedPackets;
    }
    void OnPacket(const platform::SocketAddressV4&, const CRTPPacket&) override {}
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override {}
    void OnParameterSets(const ParameterSets& sets) override { parameterSets = sets; }
    void OnServerPorts(std::uint16_t rtp, std::uint16_t rtcp) override
    {
        serverRtp = rtp;
        serverRtcp = rtcp;
    }
    ParameterSets parameterSets;
    std::atomic<std::uint16_t> serverRtp{0};
    std::atomic<std::uint16_t> serverRtcp{0};
    std::atomic<std::uint16_t> lastInterleavedSequence{0};
    std::atomic<int> interleavedPackets{0};
};

class RtspClientRequests : public ::testing::Test
{
protected:
    RTSPSessionParams Params(std::uint16_t port, const std::string& path = "rtsph264d1") const
    {
        RTSPSessionParams params;
        params.deviceAddress = "127.0.0.1";
        params.rtspPort = port;
        params.streamPath = path;
        params.clientRtpPort = 4000;
        params.clientRtcpPort = 4001;
        params.receiveTimeoutMs = 1000;
        return params;
    }

    // Runs a session until `count` requests have arrived, then stops it.
    std::vector<std::string> Run(ScriptedRtspServer& server, const RTSPSessionParams& params, std::size_t count)
    {
        client.SetIdleWait(50);
        EXPECT_TRUE(client.StartSession(params, &user, kTransportUdp));
        EXPECT_TRUE(server.WaitForRequests(count, 5000));
        client.StopSession();
        return server.Requests();
    }

    testing::RecordingOwner owner;
    NullUser user;
    CBaseRTSPClient client{&owner};
};

TEST_F(RtspClientRequests, JoinsAContentBaseWithASlashAndARelativeControlWithOneSlash)
{
    std::string base;
    ScriptedRtspServer server(Camera("trackID=1", "Content-Base: rtsp://127.0.0.1/live/\r\n"));
    const auto requests = Run(server, Params(server.Port()), 4);
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(RequestLine(requests[0]),
              "DESCRIBE rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/rtsph264d1 RTSP/1.0");
    EXPECT_EQ(RequestLine(requests[1]), "SETUP rtsp://127.0.0.1/live/trackID=1 RTSP/1.0");
    EXPECT_EQ(RequestLine(requests[2]), "PLAY rtsp://127.0.0.1/live/ RTSP/1.0") << "later requests use the base";
    EXPECT_EQ(RequestLine(requests.back()), "TEARDOWN rtsp://127.0.0.1/live/ RTSP/1.0");
    EXPECT_EQ(user.serverRtp, 6970);
    EXPECT_EQ(user.serverRtcp, 6971);
    ASSERT_EQ(user.parameterSets.first.size(), 9u);
    EXPECT_EQ(user.parameterSets.first[0], 0x67);
}

TEST_F(RtspClientRequests, UsesAnAbsoluteControlUnchanged)
{
    ScriptedRtspServer server(Camera("rtsp://10.1.1.1:554/media/video1", "Content-Base: rtsp://127.0.0.1/live\r\n"));
    const auto requests = Run(server, Params(server.Port()), 2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[1]), "SETUP rtsp://10.1.1.1:554/media/video1 RTSP/1.0");
}

TEST_F(RtspClientRequests, BuildsTheSessionUrlFromAddressPortAndPathWithoutABase)
{
    ScriptedRtspServer server(Camera("trackID=0"));
    const auto requests = Run(server, Params(server.Port(), "//rtspjpegcif"), 3);
    ASSERT_GE(requests.size(), 3u);
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/rtspjpegcif";
    EXPECT_EQ(RequestLine(requests[0]), "DESCRIBE " + url + " RTSP/1.0");
    EXPECT_EQ(RequestLine(requests[1]), "SETUP " + url + "/trackID=0 RTSP/1.0");
    EXPECT_EQ(requests[1], "SETUP " + url +
                               "/trackID=0 RTSP/1.0\r\nCSeq: 2\r\nUser-Agent: Kestrav\r\n"
                               "Transport: RTP/AVP/UDP;unicast;client_port=4000-4001\r\n\r\n");
    EXPECT_EQ(requests[2], "PLAY " + url +
                               " RTSP/1.0\r\nCSeq: 3\r\nUser-Agent: Kestrav\r\n"
                               "Session: 12345678\r\nRange: npt=0.000-\r\n\r\n");
}

TEST_F(RtspClientRequests, AnAggregateControlMeansTheSessionUrl)
{
    // Some cameras announce their only stream with "a=control:*".
    ScriptedRtspServer server(Camera("*"));
    const auto requests = Run(server, Params(server.Port()), 2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[1]),
              "SETUP rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/rtsph264d1 RTSP/1.0");
}

ScriptedRtspServer::Script Challenging(const std::string& challenges, int challengesToSend)
{
    return [=](const std::string& request, int number) -> std::string
    {
        if (number <= challengesToSend)
            return Answer(request, "401 Unauthorized", challenges);
        return Camera("trackID=1")(request, number);
    };
}

TEST_F(RtspClientRequests, AnswersTheStrongerOfTwoChallengesInEitherOrder)
{
    // Cameras of this kind offer Basic and Digest in one 401, in either order.
    for (const std::string challenges :
         {"WWW-Authenticate: Basic realm=\"cam\"\r\nWWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n",
          "WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"})
    {
        ScriptedRtspServer server(Challenging(challenges, 1));
        RTSPSessionParams params = Params(server.Port());
        params.userName = "admin";
        params.password = "secret";
        CBaseRTSPClient session(&owner);
        session.SetIdleWait(50);
        ASSERT_TRUE(session.StartSession(params, &user, kTransportUdp));
        ASSERT_TRUE(server.WaitForRequests(3, 5000));
        session.StopSession();
        const auto requests = server.Requests();
        EXPECT_EQ(Method(requests[1]), "DESCRIBE");
        EXPECT_NE(requests[1].find("\r\nCSeq: 2\r\nAuthorization: Digest username=\"admin\", realm=\"cam\", "
                                   "nonce=\"abc\", uri=\"rtsp://127.0.0.1:" +
                                   std::to_string(server.Port()) + "/rtsph264d1\", response=\""),
                  std::string::npos)
            << requests[1];
        EXPECT_EQ(Method(requests[2]), "SETUP");
    }
}

// The value of `key` in the request's Authorization line ("key=value" or key="value").
std::string AuthField(const std::string& request, const std::string& key)
{
    const std::size_t line = request.find("\r\nAuthorization: Digest ");
    if (line == std::string::npos)
        return {};
    const std::string header = request.substr(line, request.find("\r\n", line + 2) - line);
    const std::size_t at = header.find(" " + key + "=");
    if (at == std::string::npos)
        return {};
    std::size_t start = at + key.size() + 2;
    const bool quoted = header[start] == '"';
    start += quoted ? 1 : 0;
    return header.substr(start, header.find(quoted ? "\"" : ",", start) - start);
}

TEST_F(RtspClientRequests, SignsEachRequestWithItsOwnUriAndCountsQopRequestsPerNonce)
{
    for (const bool qop : {false, true})
    {
        SCOPED_TRACE(qop ? "qop=auth" : "no qop");
        const std::string challenge = qop ? "www-authenticate: digest realm=\"cam, east\", qop=\"auth,auth-int\", "
                                            "nonce=\"n1\", opaque=\"op, 7\"\r\n"
                                          : "WWW-Authenticate: Digest realm=\"cam, east\", nonce=\"n1\"\r\n";
        ScriptedRtspServer server(Challenging(challenge, 1));
        RTSPSessionParams params = Params(server.Port());
        params.userName = "admin";
        params.password = "secret";
        CBaseRTSPClient session(&owner);
        session.SetIdleWait(50);
        ASSERT_TRUE(session.StartSession(params, &user, kTransportUdp));
        ASSERT_TRUE(server.WaitForRequests(4, 5000));
        session.StopSession();
        const auto requests = server.Requests();
        const std::string url = "rtsp://127.0.0.1:" + std::to_string(server.Port()) + "/rtsph264d1";
        const std::string uris[] = {url, url + "/trackID=1", url};
        std::string lastClientNonce;
        for (std::size_t index = 1; index <= 3; ++index)
        {
            const std::string& request = requests[index];
            const std::string method = Method(request);
            const std::string& uri = uris[index - 1];
            EXPECT_EQ(RequestLine(request), method + " " + uri + " RTSP/1.0");
            EXPECT_EQ(AuthField(request, "uri"), uri) << request;
            EXPECT_EQ(AuthField(request, "realm"), "cam, east") << request;
            if (!qop)
            {
                EXPECT_EQ(AuthField(request, "response"),
                          DigestResponse("admin", "cam, east", "secret", method, uri, "n1"));
                EXPECT_NE(request.find("\", response=\"" + AuthField(request, "response") + "\"\r\n"),
                          std::string::npos)
                    << "nothing after the response: " << request;
                continue;
            }
            const std::string clientNonce = AuthField(request, "cnonce");
            EXPECT_EQ(clientNonce.size(), 16u) << request;
            EXPECT_NE(clientNonce, lastClientNonce);
            lastClientNonce = clientNonce;
            const std::uint32_t count = static_cast<std::uint32_t>(index);
            EXPECT_NE(request.find(", qop=auth, nc=0000000" + std::to_string(count) + ", cnonce=\"" + clientNonce +
                                   "\", opaque=\"op, 7\"\r\n"),
                      std::string::npos)
                << request;
            EXPECT_EQ(AuthField(request, "response"),
                      DigestQopResponse("admin", "cam, east", "secret", method, uri, "n1", {count, clientNonce}));
        }
    }
}

TEST_F(RtspClientRequests, A401BodyWithoutContentLengthIsNotReadAsTheNextAnswer)
{
    // Some cameras put an HTML page behind their 401 without saying how long it is.
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (number == 1)
                return Answer(request, "401 Unauthorized", "WWW-Authenticate: Basic realm=\"cam\"\r\n") +
                       "<html><body>401 Unauthorized\r\n\r\n</body></html>\r\n";
            return Camera("trackID=1")(request, number);
        });
    RTSPSessionParams params = Params(server.Port());
    params.userName = "admin";
    params.password = "secret";
    const auto requests = Run(server, params, 4);
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(Method(requests[1]), "DESCRIBE");
    EXPECT_EQ(Method(requests[2]), "SETUP") << "the second DESCRIBE answer was read from its status line";
    EXPECT_EQ(Method(requests[3]), "PLAY");
}

TEST_F(RtspClientRequests, ASecondChallengeEndsTheSessionWithTheAnswerParsed)
{
    ScriptedRtspServer server(Challenging("WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n", 99));
    RTSPSessionParams params = Params(server.Port());
    params.userName = "admin";
    params.password = "wrong";
    client.SetIdleWait(50);
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(2, 5000));
    EXPECT_FALSE(server.WaitForRequests(3, 300)) << "no third request, not even a TEARDOWN";
    client.StopSession();
    EXPECT_TRUE(client.IsLastRequestOk());
}

TEST_F(RtspClientRequests, ReadsAnswersWithLongHeaders)
{
    // A long challenge, date, server and session together pass 512 bytes of headers.
    const std::string longHeaders = "Date: Mon, 07 Dec 2026 20:46:17 GMT\r\nServer: " + std::string(300, 'S') +
                                    "\r\nX-Camera-Info: " + std::string(400, 'x') + "\r\n";
    ScriptedRtspServer server(Camera("trackID=1", longHeaders));
    const auto requests = Run(server, Params(server.Port()), 3);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(Method(requests[1]), "SETUP") << "the DESCRIBE answer was read whole";
    EXPECT_EQ(user.parameterSets.second.size(), 4u);
}

TEST_F(RtspClientRequests, RefusesHeadersWithoutEnd)
{
    ScriptedRtspServer server(
        [](const std::string& request, int) -> std::string {
            return "RTSP/1.0 200 OK\r\nCSeq: " + ScriptedRtspServer::CSeqOf(request) + "\r\n" + std::string(20000, 'h');
        });
    client.SetIdleWait(50);
    ASSERT_TRUE(client.StartSession(Params(server.Port()), &user, kTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(1, 5000));
    EXPECT_FALSE(server.WaitForRequests(2, 500));
    client.StopSession();
    EXPECT_FALSE(client.IsLastRequestOk());
}

TEST_F(RtspClientRequests, NeverReadsPastTheAnswer)
{
    // The camera sends its SETUP answer right behind the DESCRIBE answer; reading too much of
    // the first would lose the second.
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (number == 1)
                return Answer(request, "200 OK", "", Sdp("trackID=1")) +
                       "RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 77\r\nTransport: RTP/AVP;unicast;server_port=5000-5001"
                       "\r\n\r\n";
            if (number == 2)
                return {};
            return Answer(request, "200 OK", "Session: 77\r\n");
        });
    const auto requests = Run(server, Params(server.Port()), 3);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(Method(requests[2]), "PLAY");
    EXPECT_EQ(user.serverRtp, 5000);
}

TEST_F(RtspClientRequests, AcceptsAContentLengthWithoutBlank)
{
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (number == 1)
            {
                const std::string body = Sdp("trackID=1");
                return "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Type: application/sdp\r\nContent-Length:" +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
            }
            return Camera("trackID=1")(request, number);
        });
    const auto requests = Run(server, Params(server.Port()), 2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(Method(requests[1]), "SETUP");
}

TEST_F(RtspClientRequests, KeepsAliveAtHalfTheAnnouncedTimeOut)
{
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (Method(request) == "SETUP")
                return Answer(request, "200 OK", "Session: 9;timeout=2\r\nTransport: RTP/AVP;unicast\r\n");
            return Camera("trackID=1")(request, number);
        });
    client.SetIdleWait(50);
    ASSERT_TRUE(client.StartSession(Params(server.Port()), &user, kTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(5, 5000));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(server.WaitForRequests(6, 5000));
    const auto between = std::chrono::steady_clock::now() - start;
    client.StopSession();
    const auto requests = server.Requests();
    EXPECT_EQ(Method(requests[3]), "SET_PARAMETER") << "the first follows the first idle wait";
    EXPECT_EQ(Method(requests[4]), "SET_PARAMETER");
    EXPECT_EQ(Method(requests[5]), "SET_PARAMETER");
    EXPECT_GE(between, std::chrono::milliseconds(900)) << "then one whenever more than 1 s has passed";
    EXPECT_NE(requests[3].find("\r\nSession: 12345678\r\n"), std::string::npos) << "the latest session";
}

TEST_F(RtspClientRequests, NeverPutsALineBreakOfAPathOrUserIntoARequest)
{
    ScriptedRtspServer server(Challenging("WWW-Authenticate: Digest realm=\"cam\", nonce=\"abc\"\r\n", 1));
    RTSPSessionParams params = Params(server.Port(), "rtsph264d1 RTSP/1.0\r\nX-Injected: 1");
    client.SetIdleWait(50);
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    EXPECT_FALSE(server.WaitForRequests(1, 500)) << "no request can be built";
    client.StopSession();

    params = Params(server.Port());
    params.userName = "admin\"\r\nX-Injected: 1";
    params.password = "secret";
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    ASSERT_TRUE(server.WaitForRequests(2, 5000));
    client.StopSession();
    for (const std::string& request : server.Requests())
        EXPECT_EQ(request.find("X-Injected"), std::string::npos) << request;
}

// Cameras that misbehave must never hold up a stop: the session ends within its bounded wait.
class MisbehavingCamera : public RtspClientRequests
{
protected:
    void ExpectPromptStop(ScriptedRtspServer& server, int transportMode = kTransportUdp)
    {
        RTSPSessionParams params = Params(server.Port());
        params.receiveTimeoutMs = 500;
        params.sendTimeoutMs = 500;
        ASSERT_TRUE(client.StartSession(params, &user, transportMode));
        ASSERT_TRUE(server.WaitForRequests(1, 5000));
        const auto start = std::chrono::steady_clock::now();
        client.StopSession();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 500 + 1000));
        EXPECT_TRUE(owner.Lines().empty()) << "the thread ended without being forced";
    }
};

TEST_F(MisbehavingCamera, ThatAcceptsAndSaysNothing)
{
    ScriptedRtspServer server([](const std::string&, int) { return std::string(); });
    ExpectPromptStop(server);
    EXPECT_FALSE(client.IsLastRequestOk());
    EXPECT_EQ(server.Requests().size(), 1u) << "no SETUP after an unanswered DESCRIBE";
}

TEST_F(MisbehavingCamera, ThatClosesMidAnswer)
{
    ScriptedRtspServer server(
        [](const std::string& request, int)
        { return Answer(request, "200 OK", "", Sdp("trackID=1")).substr(0, 60) + ScriptedRtspServer::kCloseMarker; });
    ExpectPromptStop(server);
    EXPECT_FALSE(client.IsLastRequestOk());
}

TEST_F(MisbehavingCamera, ThatSendsGarbage)
{
    ScriptedRtspServer server(
        [](const std::string&, int)
        { return std::string("\x16\x03\x01garbage\xFF\xFE\r\n\r\n") + std::string(300, '\x7F'); });
    ExpectPromptStop(server);
    EXPECT_FALSE(client.IsLastRequestOk());
}

TEST_F(MisbehavingCamera, ThatStreamsGarbageAfterPlay)
{
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (Method(request) == "PLAY")
                return Answer(request, "200 OK", "Session: 12345678\r\n") + std::string(20000, '$');
            return Camera("trackID=1")(request, number);
        });
    RTSPSessionParams params = Params(server.Port());
    params.receiveTimeoutMs = 500;
    params.sendTimeoutMs = 500;
    ASSERT_TRUE(client.StartSession(params, &user, kTransportInterleaved));
    ASSERT_TRUE(server.WaitForRequests(3, 5000));
    const auto start = std::chrono::steady_clock::now();
    client.StopSession();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2 * 500 + 1000));
    EXPECT_TRUE(owner.Lines().empty());
}

// With the family's long receive time-out a silent camera would hold a stop for half a minute:
// reads give up as soon as the stop is asked for, and the session is still torn down.
TEST_F(MisbehavingCamera, ThatFallsSilentDoesNotHoldAStopForTheReceiveTimeout)
{
    for (const int transportMode : {kTransportUdp, kTransportInterleaved})
    {
        SCOPED_TRACE(transportMode == kTransportUdp ? "silent DESCRIBE" : "silent after PLAY");
        ScriptedRtspServer server(
            [transportMode](const std::string& request, int number) -> std::string
            {
                if (transportMode == kTransportUdp && Method(request) == "DESCRIBE")
                    return {};
                if (Method(request) == "PLAY")
                    return Answer(request, "200 OK", "Session: 12345678\r\n");
                return Camera("trackID=1")(request, number);
            });
        RTSPSessionParams params = Params(server.Port());
        params.receiveTimeoutMs = 20000;
        CBaseRTSPClient silent(&owner);
        ASSERT_TRUE(silent.StartSession(params, &user, transportMode));
        ASSERT_TRUE(server.WaitForRequests(transportMode == kTransportUdp ? 1 : 3, 5000));
        const auto start = std::chrono::steady_clock::now();
        silent.StopSession();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(owner.Lines().empty()) << "the thread ended without being forced";
        if (transportMode == kTransportInterleaved)
        {
            EXPECT_EQ(Method(server.Requests().back()), "TEARDOWN");
        }
    }
}

// A listener that never accepts, with its queue filled: a further connection attempt stays
// pending, as with a camera whose firewall drops the RTSP port.
class UnansweredListener
{
public:
    UnansweredListener() : m_listener(testing::OpenTcpListener(0)), m_port(platform::GetSocketLocalPort(m_listener))
    {
        for (platform::SocketHandle& filler : m_fillers)
        {
            filler = platform::CreateSocket(platform::SocketKind::Tcp);
            platform::SetSocketNonBlocking(filler, true);
            platform::ConnectSocket(filler, testing::Loopback(m_port));
        }
    }
    ~UnansweredListener()
    {
        for (const platform::SocketHandle filler : m_fillers)
            platform::CloseSocket(filler);
        platform::CloseSocket(m_listener);
    }
    std::uint16_t Port() const { return m_port; }

private:
    platform::SocketHandle m_listener;
    std::uint16_t m_port;
    platform::SocketHandle m_fillers[4] = {};
};

TEST_F(MisbehavingCamera, ThatNeverAcceptsLetsTheOwnerCancelTheConnect)
{
    UnansweredListener camera;
    RTSPSessionParams params = Params(camera.Port());
    params.connectTimeoutMs = 20000;
    CBaseRTSPClient pending(&owner);
    auto started = std::async(std::launch::async, [&] { return pending.StartSession(params, &user, kTransportUdp); });
    ASSERT_EQ(started.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout)
        << "the connection attempt should still be pending";
    pending.CancelConnect();
    ASSERT_EQ(started.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_FALSE(started.get());

    pending.AllowConnect();
    ScriptedRtspServer server(Camera("trackID=1"));
    EXPECT_TRUE(pending.StartSession(Params(server.Port()), &user, kTransportUdp)) << "allowed again";
    pending.StopSession();
}
}

// An RTP frame of the interleaved stream: "$", the channel, the length, a minimal RTP packet.
std::string InterleavedRtp(std::uint8_t channel, std::uint16_t sequenceNumber)
{
    const unsigned char packet[] = {0x80,
                                    0x60,
                                    static_cast<unsigned char>(sequenceNumber >> 8),
                                    static_cast<unsigned char>(sequenceNumber),
                                    0,
                                    0,
                                    0,
                                    1,
                                    0x11,
                                    0x22,
                                    0x33,
                                    0x44,
                                    0x65};
    std::string frame = {'$', static_cast<char>(channel), 0, static_cast<char>(sizeof packet)};
    frame.append(reinterpret_cast<const char*>(packet), sizeof packet);
    return frame;
}

TEST_F(RtspClientRequests, AsksForChannelsZeroAndOneOverTcpAndFollowsTheCamerasChoice)
{
    ScriptedRtspServer server(
        [](const std::string& request, int number) -> std::string
        {
            if (Method(request) == "SETUP")
                return Answer(request, "200 OK",
                              "Session: 5;timeout=60\r\nTransport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n");
            if (Method(request) == "PLAY")
                return Answer(request, "200 OK", "Session: 5\r\n") + InterleavedRtp(0, 10) + InterleavedRtp(4, 11) +
                       InterleavedRtp(5, 12) + InterleavedRtp(4, 13);
            return Camera("trackID=1")(request, number);
        });
    ASSERT_TRUE(client.StartSession(Params(server.Port()), &user, kTransportInterleaved));
    ASSERT_TRUE(server.WaitForRequests(3, 5000));
    for (int waited = 0; waited < 100 && user.interleavedPackets < 2; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    client.StopSession();
    const auto requests = server.Requests();
    EXPECT_EQ(requests[1], "SETUP rtsp://127.0.0.1:" + std::to_string(server.Port()) +
                               "/rtsph264d1/trackID=1 RTSP/1.0\r\nCSeq: 2\r\nUser-Agent: Kestrav\r\n"
                               "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    EXPECT_EQ(user.interleavedPackets, 2) << "only the frames of channel 4; 0 and 5 are not video";
    EXPECT_EQ(user.lastInterleavedSequence, 13);
}

// A camera with a 2 s session whose answers to some methods are given ("405 Method Not Allowed");
// the others play along, and over TCP every answer after PLAY carries a frame so that the stream
// never falls silent.
ScriptedRtspServer::Script SessionCamera(std::map<std::string, std::string> statuses)
{
    return [statuses](const std::string& request, int number) -> std::string
    {
        const std::string method = Method(request);
        const bool withRange = request.find("\r\nRange: ") != std::string::npos;
        const std::string key =
            method == "PLAY" && number > 4 ? (withRange ? "PLAY again" : "PLAY again, no range") : method;
        const auto given = statuses.find(key);
        if (given != statuses.end())
            return Answer(request, given->second);
        if (method == "SETUP")
            return Answer(request, "200 OK",
                          "Session: 7;timeout=2\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
        if (method == "DESCRIBE")
            return Camera("trackID=1")(request, number);
        return Answer(request, "200 OK", "Session: 7\r\n") +
               (statuses.contains("tcp") ? InterleavedRtp(0, static_cast<std::uint16_t>(number)) : "");
    };
}

std::vector<std::string> Methods(const std::vector<std::string>& requests)
{
    std::vector<std::string> methods;
    for (const std::string& request : requests)
        methods.push_back(Method(request));
    return methods;
}

class SessionUser : public NullUser
{
public:
    std::vector<std::uint8_t> BuildInterleavedReport() override
    {
        return {0x81, 0xC9, 0x00, 0x01, 0xAB, 0xCD, 0xEF, 0x01};
    }
};

// A refused keep-alive is no dead session: the next method is tried at once and the session
// lives on; only "session not found" ends it. Over UDP and over TCP while streaming.
TEST_F(RtspClientRequests, KeepAlivesFallBackThroughRefusedMethodsAndOnlyALostSessionEndsIt)
{
    const struct
    {
        std::map<std::string, std::string> statuses;
        std::vector<std::string> keepAlives; // the first ones, in order
        bool ended;
    } cases[] = {
        {{{"SET_PARAMETER", "405 Method Not Allowed"}, {"GET_PARAMETER", "501 Not Implemented"}},
         {"SET_PARAMETER", "GET_PARAMETER", "OPTIONS", "OPTIONS"},
         false},
        {{{"SET_PARAMETER", "451 Parameter Not Understood"}},
         {"SET_PARAMETER", "GET_PARAMETER", "GET_PARAMETER"},
         false},
        {{{"SET_PARAMETER", "500 Internal Server Error"}}, {"SET_PARAMETER", "SET_PARAMETER"}, false},
        {{{"SET_PARAMETER", "454 Session Not Found"}}, {"SET_PARAMETER"}, true},
    };
    for (const int mode : {kTransportUdp, kTransportInterleaved})
    {
        for (const auto& entry : cases)
        {
            // Over TCP the first case shows the same rules on the streaming connection.
            if (mode == kTransportInterleaved && &entry != &cases[0])
                continue;
            auto statuses = entry.statuses;
            if (mode == kTransportInterleaved)
                statuses["tcp"] = "";
            ScriptedRtspServer server(SessionCamera(statuses));
            CBaseRTSPClient session(&owner);
            session.SetIdleWait(50);
            RTSPSessionParams params = Params(server.Port());
            params.receiveTimeoutMs = 5000;
            ASSERT_TRUE(session.StartSession(params, &user, mode));
            const std::size_t wanted = 3 + entry.keepAlives.size();
            server.WaitForRequests(wanted, 6000);
            for (int waited = 0; waited < 50 && session.HasSessionEnded() != entry.ended; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(session.HasSessionEnded(), entry.ended) << entry.keepAlives[0] << " mode " << mode;
            EXPECT_TRUE(entry.ended || session.IsLastRequestOk()) << "the camera answered";
            session.StopSession();
            std::vector<std::string> methods = Methods(server.Requests());
            ASSERT_GE(methods.size(), wanted) << "mode " << mode;
            EXPECT_EQ(std::vector(methods.begin() + 3, methods.begin() + static_cast<std::ptrdiff_t>(wanted)),
                      entry.keepAlives)
                << "mode " << mode;
        }
    }
}

// GStreamer refuses the Range of a PLAY that resumes a paused live stream: it is asked once more
// without it. Over TCP the PAUSE and the PLAY go out while the stream is read.
TEST_F(RtspClientRequests, APlayRefusedAfterAPauseIsSentAgainWithoutRange)
{
    for (const int mode : {kTransportUdp, kTransportInterleaved})
    {
        std::map<std::string, std::string> statuses = {{"PLAY again", "457 Invalid Range"}};
        if (mode == kTransportInterleaved)
            statuses["tcp"] = "";
        ScriptedRtspServer server(SessionCamera(statuses));
        CBaseRTSPClient session(&owner);
        RTSPSessionParams params = Params(server.Port());
        params.receiveTimeoutMs = 5000;
        ASSERT_TRUE(session.StartSession(params, &user, mode));
        ASSERT_TRUE(server.WaitForRequests(3, 5000));
        session.RequestPause();
        ASSERT_TRUE(server.WaitForRequests(4, 5000));
        session.RequestPlay();
        ASSERT_TRUE(server.WaitForRequests(6, 5000));
        session.StopSession();
        const auto requests = server.Requests();
        const std::vector<std::string> expected = {"DESCRIBE", "SETUP", "PLAY", "PAUSE", "PLAY", "PLAY"};
        const std::vector<std::string> methods = Methods(requests);
        EXPECT_EQ(std::vector(methods.begin(), methods.begin() + 6), expected) << "mode " << mode;
        EXPECT_EQ(Header(requests[4], "Range"), "npt=0.000-");
        EXPECT_EQ(requests[5].find("Range:"), std::string::npos) << requests[5];
        EXPECT_FALSE(session.HasSessionEnded());
    }
}

// Over TCP a stream that goes on past the session time-out is kept alive on the same connection,
// and the receiver reports go on the RTCP channel.
TEST_F(RtspClientRequests, InterleavedStreamingSendsKeepAlivesAndReportsOverTheConnection)
{
    ScriptedRtspServer server(SessionCamera({{"tcp", ""}}));
    SessionUser reporting;
    CBaseRTSPClient session(&owner);
    session.SetInterleavedReportPeriod(200);
    RTSPSessionParams params = Params(server.Port());
    params.receiveTimeoutMs = 5000;
    ASSERT_TRUE(session.StartSession(params, &reporting, kTransportInterleaved));
    ASSERT_TRUE(server.WaitForRequests(4, 5000));
    session.StopSession();
    const auto requests = server.Requests();
    EXPECT_EQ(Method(requests[3]), "SET_PARAMETER");
    EXPECT_EQ(Header(requests[3], "Session"), "7");
    const auto frames = server.InterleavedFrames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0], std::string("$\x01\x00\x08\x81\xC9\x00\x01\xAB\xCD\xEF\x01", 12));
}

// A camera that closes the connection ends an interleaved session at once. Over UDP the session
// can outlive its connection: a new one asks, and only a camera that no longer knows the session
// ends it (as a restarted one answers); VLC refuses SET_PARAMETER and closes, yet its session lives.
TEST_F(RtspClientRequests, AClosedConnectionEndsTheSessionOnlyWhenTheSessionIsGone)
{
    const std::string close = ScriptedRtspServer::kCloseMarker;
    const struct
    {
        int mode;
        std::string closingMethod; // answered, then the connection closes
        std::string closingStatus;
        bool ended;
        std::string lastMethod;
    } cases[] = {
        {kTransportInterleaved, "PLAY", "200 OK", true, "PLAY"},
        {kTransportUdp, "PLAY", "200 OK", true, "SET_PARAMETER"},
        {kTransportUdp, "SET_PARAMETER", "501 Not Implemented", false, "GET_PARAMETER"},
    };
    for (const auto& entry : cases)
    {
        SCOPED_TRACE(entry.closingMethod + " mode " + std::to_string(entry.mode));
        std::atomic<bool> closed{false};
        ScriptedRtspServer server(
            [&](const std::string& request, int number) -> std::string
            {
                const std::string method = Method(request);
                if (method == entry.closingMethod && !closed.exchange(true))
                    return Answer(request, entry.closingStatus, "Session: 12345678\r\n") +
                           (entry.mode == kTransportInterleaved ? InterleavedRtp(0, 1) : "") + close;
                // A restarted camera no longer knows the session.
                if (closed && entry.closingMethod == "PLAY")
                    return Answer(request, "454 Session Not Found");
                return Camera("trackID=1")(request, number);
            });
        CBaseRTSPClient session(&owner);
        session.SetIdleWait(50);
        RTSPSessionParams params = Params(server.Port());
        params.receiveTimeoutMs = 5000;
        ASSERT_TRUE(session.StartSession(params, &user, entry.mode));
        for (int waited = 0; waited < 100 && !closed; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto closedAt = std::chrono::steady_clock::now();
        while (!session.HasSessionEnded() && std::chrono::steady_clock::now() - closedAt < std::chrono::seconds(2))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(session.HasSessionEnded(), entry.ended);
        if (entry.ended)
        {
            EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::milliseconds(1000));
        }
        session.StopSession();
        const std::vector<std::string> methods = Methods(server.Requests());
        const auto last = std::find_if(methods.rbegin(), methods.rend(),
                                       [](const std::string& method) { return method != "TEARDOWN"; });
        ASSERT_NE(last, methods.rend());
        EXPECT_EQ(*last, entry.lastMethod);
    }
}
}
