// The RTSP client against Debian's GStreamer RTSP server on 127.0.0.1, with a recording proxy
// in between so that the requests can be checked as they went over the wire.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>

#include "core/parameter_sets.h"
#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_client.h"
#include "support/recording_owner.h"
#include "support/rtsp_peer.h"
#include "support/tcp_recording_proxy.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;

// What a channel would receive from the session and the receiver.
class RecordingUser : public IRTPReceiverUser
{
public:
    void OnInterleavedPacket(const CRTPPacket& packet) override { Record(packet); }
    void OnPacket(const platform::SocketAddressV4&, const CRTPPacket& packet) override { Record(packet); }
    void OnReceiveTimeout() override {}
    void OnSocketClosed() override {}
    void OnParameterSets(const ParameterSets& sets) override
    {
        std::lock_guard lock(m_mutex);
        parameterSets = sets;
        parameterSetsSeen = true;
    }
    void OnServerPorts(std::uint16_t rtp, std::uint16_t rtcp) override
    {
        std::lock_guard lock(m_mutex);
        serverRtpPort = rtp;
        serverRtcpPort = rtcp;
    }

    bool WaitForPackets(std::size_t count, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return sequenceNumbers.size() >= count; });
    }
    std::vector<std::uint16_t> Sequence()
    {
        std::lock_guard lock(m_mutex);
        return sequenceNumbers;
    }

    ParameterSets parameterSets;
    bool parameterSetsSeen = false;
    std::uint16_t serverRtpPort = 0;
    std::uint16_t serverRtcpPort = 0;

private:
    void Record(const CRTPPacket& packet)
    {
        std::lock_guard lock(m_mutex);
        sequenceNumbers.push_back(packet.GetSequenceNumber());
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint16_t> sequenceNumbers;
};

class RtspClientSession : public ::testing::Test
{
protected:
    void StartPeer(const testing::RtspPeerOptions& options = {})
    {
        peer = std::make_unique<testing::RtspPeer>(options);
        ASSERT_NE(peer->Port(), 0) << "the GStreamer RTSP server did not start";
        proxy = std::make_unique<testing::TcpRecordingProxy>(peer->Port());
        ASSERT_NE(proxy->Port(), 0);
    }

    RTSPSessionParams Params(const std::string& path = "rtsph264qcif") const
    {
        RTSPSessionParams params;
        params.deviceAddress = "127.0.0.1";
        params.rtspPort = proxy->Port();
        params.streamPath = path;
        params.receiveTimeoutMs = 3000;
        return params;
    }

    // A camera asking for `auth` credentials, and session parameters that give them.
    RTSPSessionParams StartPeerWithCredentials(const std::string& auth, const std::string& password = "secret")
    {
        StartPeer({.auth = auth});
        RTSPSessionParams params = proxy ? Params() : RTSPSessionParams{};
        params.userName = "admin";
        params.password = password;
        return params;
    }

    // Plays interleaved until ten packets arrived, then stops; the requests as they went over the wire.
    std::vector<std::string> PlayInterleaved(const RTSPSessionParams& params)
    {
        CBaseRTSPClient client(&owner);
        EXPECT_TRUE(client.StartSession(params, &user, kTransportInterleaved));
        EXPECT_TRUE(user.WaitForPackets(10, 15s));
        client.StopSession();
        return proxy->Requests();
    }

    std::vector<std::string> RequestLines() const
    {
        std::vector<std::string> lines;
        for (const std::string& request : proxy->Requests())
            lines.push_back(request.substr(0, request.find("\r\n")));
        return lines;
    }

    static std::string Header(const std::string& request, const std::string& name)
    {
        const auto start = request.find("\r\n" + name + ": ");
        if (start == std::string::npos)
            return {};
        const auto valueStart = start + name.size() + 4;
        return request.substr(valueStart, request.find("\r\n", valueStart) - valueStart);
    }

    testing::RecordingOwner owner;
    std::unique_ptr<testing::RtspPeer> peer;
    std::unique_ptr<testing::TcpRecordingProxy> proxy;
    RecordingUser user;
};

void ExpectInOrder(const std::vector<std::uint16_t>& sequence)
{
    for (std::size_t i = 1; i < sequence.size(); ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(sequence[i - 1] + 1), sequence[i]) << "packet " << i;
}

TEST_F(RtspClientSession, PlaysOverUdpKeepsAliveAndTearsDown)
{
    StartPeer();
    CRTPReceiver receiver(&owner);
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.OpenReceiver(0, kTransportUdp));
    RTSPSessionParams params = Params();
    params.clientRtpPort = receiver.GetLocalPort();
    params.clientRtcpPort = static_cast<std::uint16_t>(params.clientRtpPort + 1);

    CBaseRTSPClient client(&owner);
    client.SetIdleWait(100);
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    ASSERT_TRUE(user.WaitForPackets(40, 15s)) << "RTP packets reach the receiver";
    ASSERT_TRUE(proxy->WaitForRequest("SET_PARAMETER", 5000)) << "a keep-alive follows the first idle wait";
    client.StopSession();
    receiver.CloseReceiver();
    EXPECT_TRUE(client.IsLastRequestOk());

    ExpectInOrder(user.Sequence());
    ASSERT_TRUE(user.parameterSetsSeen);
    ASSERT_FALSE(user.parameterSets.first.empty());
    ASSERT_FALSE(user.parameterSets.second.empty());
    EXPECT_EQ(user.parameterSets.first[0] & 0x1F, 7) << "the SPS comes first";
    EXPECT_EQ(user.parameterSets.second[0] & 0x1F, 8) << "then the PPS";
    EXPECT_NE(user.serverRtpPort, 0);
    EXPECT_EQ(user.serverRtcpPort, user.serverRtpPort + 1);

    const auto requests = proxy->Requests();
    const auto lines = RequestLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "DESCRIBE rtsp://127.0.0.1:" + std::to_string(proxy->Port()) + "/rtsph264qcif RTSP/1.0");
    EXPECT_EQ(lines[1].rfind("SETUP rtsp://127.0.0.1:", 0), 0u);
    EXPECT_EQ(lines[2].rfind("PLAY ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("SET_PARAMETER ", 0), 0u);
    EXPECT_EQ(lines.back().rfind("TEARDOWN ", 0), 0u);
    for (std::size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(Header(requests[i], "CSeq"), std::to_string(i + 1)) << lines[i];
    EXPECT_EQ(Header(requests[1], "Transport"),
              "RTP/AVP/UDP;unicast;client_port=" + std::to_string(params.clientRtpPort) + "-" +
                  std::to_string(params.clientRtcpPort));
    EXPECT_EQ(Header(requests[1], "Session"), "") << "SETUP carries no session";
    EXPECT_NE(Header(requests[2], "Session"), "");
    EXPECT_EQ(Header(requests[2], "Range"), "npt=0.000-");
    EXPECT_EQ(Header(requests[0], "User-Agent"), "Kestrav");
    EXPECT_EQ(Header(requests[0], "Accept"), "application/sdp");
}

TEST_F(RtspClientSession, ReadsTheStreamInterleavedAndStopsWithinTheReceiveTimeOut)
{
    StartPeer();
    CBaseRTSPClient client(&owner);
    ASSERT_TRUE(client.StartSession(Params(), &user, kTransportInterleaved));
    ASSERT_TRUE(user.WaitForPackets(40, 15s));
    const auto start = std::chrono::steady_clock::now();
    client.StopSession();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s + 1500ms);
    ExpectInOrder(user.Sequence());
    EXPECT_TRUE(owner.Lines().empty()) << "the thread stopped without being forced";

    const auto requests = proxy->Requests();
    const auto lines = RequestLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Header(requests[1], "Transport"), "RTP/AVP/TCP;unicast;interleaved=0-1");
    EXPECT_EQ(lines[3].rfind("TEARDOWN ", 0), 0u);
    EXPECT_EQ(Header(requests[3], "CSeq"), "4");
}

TEST_F(RtspClientSession, AnswersADigestChallengeOnceAndPlays)
{
    const RTSPSessionParams params = StartPeerWithCredentials("digest");
    ASSERT_TRUE(proxy);
    const auto requests = PlayInterleaved(params);
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0].rfind("DESCRIBE ", 0), 0u);
    EXPECT_EQ(Header(requests[0], "Authorization"), "");
    EXPECT_EQ(requests[1].rfind("DESCRIBE ", 0), 0u) << "the same request again";
    EXPECT_EQ(Header(requests[1], "CSeq"), "2");
    EXPECT_EQ(Header(requests[1], "Authorization").rfind("Digest username=\"admin\", realm=\"", 0), 0u);
    for (std::size_t i = 2; i < requests.size(); ++i)
        EXPECT_EQ(Header(requests[i], "Authorization").rfind("Digest ", 0), 0u) << "every later request signs";
}

TEST_F(RtspClientSession, SendsBasicCredentialsWhenTheCameraAsksForThem)
{
    const RTSPSessionParams params = StartPeerWithCredentials("basic");
    ASSERT_TRUE(proxy);
    const auto requests = PlayInterleaved(params);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(Header(requests[1], "Authorization"), "Basic YWRtaW46c2VjcmV0");
}

TEST_F(RtspClientSession, AWrongPasswordEndsTheSessionAfterOneRetry)
{
    const RTSPSessionParams params = StartPeerWithCredentials("digest", "wrong");
    ASSERT_TRUE(proxy);
    CBaseRTSPClient client(&owner);
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    ASSERT_TRUE(proxy->WaitForRequest("DESCRIBE", 5000));
    std::this_thread::sleep_for(500ms);
    client.StopSession();
    const auto lines = RequestLines();
    ASSERT_EQ(lines.size(), 2u) << "two DESCRIBEs, then nothing: no SETUP, no TEARDOWN";
    EXPECT_TRUE(client.IsLastRequestOk()) << "the 401 was answered and parsed";
    EXPECT_FALSE(user.parameterSetsSeen);
}

TEST_F(RtspClientSession, PauseAndResumeSendPauseThenPlay)
{
    StartPeer();
    CRTPReceiver receiver(&owner);
    receiver.SetUser(&user);
    ASSERT_TRUE(receiver.OpenReceiver(0, kTransportUdp));
    RTSPSessionParams params = Params();
    params.clientRtpPort = receiver.GetLocalPort();
    params.clientRtcpPort = static_cast<std::uint16_t>(params.clientRtpPort + 1);
    CBaseRTSPClient client(&owner);
    ASSERT_TRUE(client.StartSession(params, &user, kTransportUdp));
    ASSERT_TRUE(user.WaitForPackets(5, 15s));
    client.RequestPause();
    ASSERT_TRUE(proxy->WaitForRequest("PAUSE", 5000));
    client.RequestPlay();
    std::this_thread::sleep_for(300ms);
    client.StopSession();
    receiver.CloseReceiver();

    const auto requests = proxy->Requests();
    const auto lines = RequestLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[3].rfind("PAUSE ", 0), 0u);
    EXPECT_EQ(lines[4].rfind("PLAY ", 0), 0u);
    for (std::size_t i : {3u, 4u})
    {
        EXPECT_NE(Header(requests[i], "Session"), "");
        EXPECT_EQ(Header(requests[i], "Range"), "npt=0.000-");
    }
}

TEST(RtspClientConnect, FailsQuicklyWhenNothingListens)
{
    testing::RecordingOwner owner;
    RecordingUser user;
    RTSPSessionParams params;
    params.deviceAddress = "127.0.0.1";
    params.rtspPort = 1; // privileged and unused: refused at once
    params.connectTimeoutMs = 500;
    CBaseRTSPClient client(&owner);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.StartSession(params, &user, kTransportUdp));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    params.deviceAddress = "";
    EXPECT_FALSE(client.StartSession(params, &user, kTransportUdp)) << "no address, no session";
}
}
}
