// The simulated camera's RTSP side as clients that share no code with the module see it: FFmpeg's
// ffprobe, and a few raw RTSP requests written here. The camera asks for Digest like the cameras of
// the family; the tests that play with a plain client switch its authentication off through the HTTP
// side, which the RTSP side has to follow.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/camsim_peer.h"
#include "support/child_process.h"
#include "support/test_sockets.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using testing::CamsimOptions;
using testing::CamsimPeer;
using testing::ChildProcess;
using Clock = std::chrono::steady_clock;

// Small pictures, so that the encoders stay light on two cores; "LOBBY" names no known resolution.
const char* const kProfiles = "profile_00_name=H264 CIF\r\n"
                              "profile_00_fps_range=1~30\r\n"
                              "profile_00_bps_range=128,256,512\r\n"
                              "profile_01_name=JPEG QCIF\r\n"
                              "profile_01_fps_range=1~15\r\n"
                              "profile_01_quality_range=20,50,80\r\n"
                              "profile_02_name=H264 LOBBY\r\n"
                              "profile_02_fps_range=1~30\r\n";

// "admin:secret" and "admin:other" in Base64.
const char* const kBasicSecret = "Basic YWRtaW46c2VjcmV0";
const char* const kBasicOther = "Basic YWRtaW46b3RoZXI=";

int Milliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool ConnectionRefused(std::uint16_t port)
{
    int error = 0;
    const platform::SocketHandle connection = testing::ConnectLoopback(port, &error);
    if (connection != platform::kInvalidSocket)
        platform::CloseSocket(connection);
    return connection == platform::kInvalidSocket && error == platform::kSocketErrorConnectionRefused;
}

// What ffprobe reports of the video stream at a URL: the stream's fields ("codec_name", "width", "height",
// "r_frame_rate") and the flags of its first packets ("K_" for a key frame); empty when it got nothing.
struct Probe
{
    std::map<std::string, std::string> stream;
    std::vector<std::string> packetFlags;
};

Probe ProbeStream(const std::string& url, int packets = 0)
{
    std::vector<std::string> arguments = {
        "/usr/bin/ffprobe", "-v",  "error", "-rtsp_transport",           "tcp", "-timeout", "5000000",
        "-select_streams",  "v:0", "-of",   "default=noprint_wrappers=1"};
    if (packets > 0)
        arguments.insert(arguments.end(), {"-show_entries", "stream=codec_name,width,height,r_frame_rate:packet=flags",
                                           "-read_intervals", "%+#" + std::to_string(packets)});
    else
        arguments.insert(arguments.end(), {"-show_entries", "stream=codec_name,width,height,r_frame_rate"});
    arguments.push_back(url);
    ChildProcess ffprobe(arguments);
    Probe probe;
    const auto deadline = Clock::now() + 15s;
    while (const auto line = ffprobe.ReadLine(std::chrono::milliseconds(Milliseconds(deadline))))
    {
        const auto equals = line->find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = line->substr(0, equals);
        if (name == "flags")
            probe.packetFlags.push_back(line->substr(equals + 1));
        else
            probe.stream[name] = line->substr(equals + 1);
    }
    return probe;
}

// The value of a header of an answer's head ("" when absent); the server writes the names as here.
std::string HeaderValue(const std::string& head, const std::string& name)
{
    const auto at = head.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    const auto start = head.find_first_not_of(' ', at + name.size() + 3);
    if (start == std::string::npos)
        return {};
    const auto end = head.find("\r\n", start);
    return head.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// One RTSP connection driven by hand: requests out, whole answers (head and body) in.
class RtspConnection
{
public:
    explicit RtspConnection(std::uint16_t port) : m_port(port), m_socket(testing::ConnectLoopback(port)) {}
    ~RtspConnection()
    {
        if (IsOpen())
            platform::CloseSocket(m_socket);
    }
    RtspConnection(const RtspConnection&) = delete;
    RtspConnection& operator=(const RtspConnection&) = delete;

    bool IsOpen() const { return m_socket != platform::kInvalidSocket; }
    std::string Url(const std::string& path) const { return "rtsp://127.0.0.1:" + std::to_string(m_port) + path; }

    // The answer to one request, or "" when none came within 5 s.
    std::string Exchange(const std::string& method, const std::string& url, const std::string& headers = "")
    {
        const std::string request =
            method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(++m_sequence) + "\r\n" + headers + "\r\n";
        if (!IsOpen() || !testing::SendAll(m_socket, request))
            return {};
        const auto deadline = Clock::now() + 5s;
        for (;;)
        {
            const auto headEnd = m_pending.find("\r\n\r\n");
            if (headEnd != std::string::npos)
            {
                const std::string length = HeaderValue(m_pending.substr(0, headEnd + 2), "Content-Length");
                const std::size_t bodySize = length.empty() ? 0 : std::stoul(length);
                if (m_pending.size() >= headEnd + 4 + bodySize)
                {
                    std::string answer = m_pending.substr(0, headEnd + 4 + bodySize);
                    m_pending.erase(0, answer.size());
                    return answer;
                }
            }
            if (!Receive(deadline))
                return {};
        }
    }

    // True when the camera closes the connection before the time is out.
    bool ClosedWithin(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline)
        {
            std::string ignored;
            const int got = testing::ReceiveInto(m_socket, ignored, std::chrono::milliseconds(Milliseconds(deadline)));
            if (got == 0 || (got < 0 && platform::LastSocketError() != platform::kSocketErrorTimedOut))
                return true;
        }
        return false;
    }

private:
    bool Receive(Clock::time_point deadline)
    {
        return testing::ReceiveInto(m_socket, m_pending, std::chrono::milliseconds(Milliseconds(deadline))) > 0;
    }

    std::uint16_t m_port;
    platform::SocketHandle m_socket;
    int m_sequence = 0;
    std::string m_pending;
};

int StatusOf(const std::string& answer)
{
    return answer.rfind("RTSP/1.0 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

// DESCRIBE, SETUP over UDP and PLAY on a connection of its own; then counts the RTP datagrams.
class UdpPlayer
{
public:
    UdpPlayer(std::uint16_t port, const std::string& path) : m_connection(port)
    {
        m_socket = testing::OpenUdpSocket();
        m_rtpPort = platform::GetSocketLocalPort(m_socket);
        m_playing = Play(path);
    }
    ~UdpPlayer() { platform::CloseSocket(m_socket); }
    UdpPlayer(const UdpPlayer&) = delete;
    UdpPlayer& operator=(const UdpPlayer&) = delete;

    bool IsPlaying() const { return m_playing; }
    RtspConnection& Connection() { return m_connection; }

    int PacketsWithin(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        int packets = 0;
        while (Clock::now() < deadline)
        {
            if (platform::WaitForSocketReadable(m_socket, static_cast<std::uint32_t>(Milliseconds(deadline))) !=
                platform::WaitResult::Signaled)
                continue;
            std::uint8_t buffer[65536];
            if (platform::ReceiveFromSocket(m_socket, buffer, nullptr) > 0)
                ++packets;
        }
        return packets;
    }

private:
    bool Play(const std::string& path)
    {
        const std::string url = m_connection.Url(path);
        const std::string described = m_connection.Exchange("DESCRIBE", url, "Accept: application/sdp\r\n");
        // The media's own control attribute is the last one; the session's ("*") comes first.
        std::string control;
        for (auto at = described.find("a=control:"); at != std::string::npos; at = described.find("a=control:", at + 1))
            control = described.substr(at + 10, described.find_first_of("\r\n", at) - at - 10);
        if (StatusOf(described) != 200 || control.empty())
            return false;
        const std::string trackUrl = control.rfind("rtsp://", 0) == 0 ? control : url + "/" + control;
        const std::string setUp =
            m_connection.Exchange("SETUP", trackUrl,
                                  "Transport: RTP/AVP;unicast;client_port=" + std::to_string(m_rtpPort) + "-" +
                                      std::to_string(m_rtpPort + 1) + "\r\n");
        const std::string sessionHeader = HeaderValue(setUp, "Session");
        const std::string session = sessionHeader.substr(0, sessionHeader.find(';'));
        if (StatusOf(setUp) != 200 || session.empty())
            return false;
        return StatusOf(m_connection.Exchange("PLAY", url, "Session: " + session + "\r\n")) == 200;
    }

    RtspConnection m_connection;
    platform::SocketHandle m_socket = platform::kInvalidSocket;
    std::uint16_t m_rtpPort = 0;
    bool m_playing = false;
};

// One camera for the suite; every test starts with Digest, no rules, a listening RTSP side and the
// profiles above at their initial settings.
class CamsimRtsp : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        CamsimOptions options;
        options.auth = "digest";
        options.rtsp = true;
        options.extraArguments = {"--profile-text", kProfiles, "--alarm-interval", "0"};
        s_camera = new CamsimPeer(options);
    }
    static void TearDownTestSuite()
    {
        delete s_camera;
        s_camera = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(std::filesystem::exists(testing::LocalPath("/usr/bin/ffprobe")))
            << "the tests read the streams with ffprobe (Debian ffmpeg)";
        ASSERT_TRUE(s_camera->IsReady()) << s_camera->StartFailure();
        s_camera->Reset();
        // An empty list first, so that no stream keeps the settings an earlier test gave it.
        ASSERT_TRUE(s_camera->SetAnswer("/getprofile", ""));
        ASSERT_TRUE(s_camera->SetAnswer("/getprofile", kProfiles));
    }

    static void SwitchAuthenticationOff() { ASSERT_TRUE(s_camera->Control("/camsim/auth?schemes=none")); }

    static CamsimPeer& Camera() { return *s_camera; }

private:
    static CamsimPeer* s_camera;
};

CamsimPeer* CamsimRtsp::s_camera = nullptr;

TEST_F(CamsimRtsp, ServesTheAnnouncedProfilesAtTheirSizesAndFollowsANewProfileList)
{
    const Probe cif = ProbeStream(Camera().RtspUrl("rtsph264cif", true));
    EXPECT_EQ(cif.stream, (std::map<std::string, std::string>{
                              {"codec_name", "h264"}, {"width", "352"}, {"height", "240"}, {"r_frame_rate", "25/1"}}));
    // A resolution name the camera does not know is served at the fallback size.
    Probe lobby = ProbeStream(Camera().RtspUrl("rtsph264lobby", true));
    EXPECT_EQ(lobby.stream["width"], "640");
    EXPECT_EQ(lobby.stream["height"], "480");

    ASSERT_TRUE(Camera().SetAnswer("/getprofile", "profile_00_name=H264 QVGA\r\nprofile_00_fps_range=1~30\r\n"));
    Probe qvga = ProbeStream(Camera().RtspUrl("rtsph264qvga", true));
    EXPECT_EQ(qvga.stream["width"], "320");
    EXPECT_EQ(qvga.stream["height"], "240");
    RtspConnection connection(Camera().RtspPort());
    EXPECT_EQ(StatusOf(connection.Exchange("DESCRIBE", connection.Url("/rtsph264cif"))), 404)
        << "a profile no longer announced is no longer served";
}

TEST_F(CamsimRtsp, SetStreamingShapesTheNextStreamAndLeavesPlayingClientsAlone)
{
    SwitchAuthenticationOff();
    UdpPlayer earlier(Camera().RtspPort(), "/rtsph264cif");
    ASSERT_TRUE(earlier.IsPlaying());
    ASSERT_GT(earlier.PacketsWithin(500ms), 0);

    EXPECT_EQ(Camera().Control("/setstreaming?profilename=H264CIF&vbrcbr=0&bitrate=256&Iframeperiod=4&outrate=12"),
              "OK\r\n");
    const Probe h264 = ProbeStream(Camera().RtspUrl("rtsph264cif"), 10);
    EXPECT_EQ(h264.stream, (std::map<std::string, std::string>{
                               {"codec_name", "h264"}, {"width", "352"}, {"height", "240"}, {"r_frame_rate", "12/1"}}));
    std::vector<std::size_t> keyFrames;
    for (std::size_t i = 0; i < h264.packetFlags.size(); ++i)
    {
        if (h264.packetFlags[i].rfind('K', 0) == 0)
            keyFrames.push_back(i);
    }
    ASSERT_GE(keyFrames.size(), 2u) << "ten frames hold two key frames four apart";
    for (std::size_t i = 1; i < keyFrames.size(); ++i)
        EXPECT_EQ(keyFrames[i] - keyFrames[i - 1], 4u);
    EXPECT_GT(earlier.PacketsWithin(500ms), 0) << "the client that played before the change still plays";

    // A frame rate above the profile's range is clamped to it.
    EXPECT_EQ(Camera().Control("/setstreaming?profilename=JPEGQCIF&outrate=99&quality=50"), "OK\r\n");
    const Probe jpeg = ProbeStream(Camera().RtspUrl("rtspjpegqcif"));
    EXPECT_EQ(jpeg.stream,
              (std::map<std::string, std::string>{
                  {"codec_name", "mjpeg"}, {"width", "176"}, {"height", "144"}, {"r_frame_rate", "15/1"}}));

    // A frame rate of 0 keeps the one before; nothing to change, so the stream is not rebuilt.
    const auto before = Camera().RtspStream("/rtspjpegqcif");
    ASSERT_TRUE(before);
    EXPECT_EQ(Camera().Control("/setstreaming?profilename=JPEGQCIF&outrate=0&quality=50"), "OK\r\n");
    const auto after = Camera().RtspStream("/rtspjpegqcif");
    ASSERT_TRUE(after);
    EXPECT_EQ(after->at("fps"), "15");
    EXPECT_EQ(after->at("quality"), "50");
    EXPECT_EQ(after->at("version"), before->at("version"));
}

TEST_F(CamsimRtsp, AsksForTheCredentialsAndSchemesOfTheHttpSide)
{
    const auto describe = [](const std::string& headers = "")
    {
        RtspConnection connection(Camera().RtspPort());
        return connection.Exchange("DESCRIBE", connection.Url("/rtspjpegqcif"), headers);
    };
    const std::string challenge = describe();
    EXPECT_EQ(StatusOf(challenge), 401);
    EXPECT_NE(challenge.find("WWW-Authenticate: Digest "), std::string::npos) << challenge;
    EXPECT_EQ(challenge.find("WWW-Authenticate: Basic"), std::string::npos) << challenge;
    EXPECT_EQ(StatusOf(describe("Authorization: " + std::string(kBasicSecret) + "\r\n")), 401)
        << "Basic is refused while the camera asks for Digest";
    EXPECT_EQ(ProbeStream(Camera().RtspUrl("rtspjpegqcif", true)).stream["codec_name"], "mjpeg");

    ASSERT_TRUE(Camera().Control("/camsim/auth?schemes=basic&user=admin&password=other"));
    const std::string basicChallenge = describe();
    EXPECT_EQ(StatusOf(basicChallenge), 401);
    EXPECT_NE(basicChallenge.find("WWW-Authenticate: Basic "), std::string::npos) << basicChallenge;
    EXPECT_EQ(basicChallenge.find("WWW-Authenticate: Digest"), std::string::npos) << basicChallenge;
    EXPECT_EQ(StatusOf(describe("Authorization: " + std::string(kBasicSecret) + "\r\n")), 401);
    EXPECT_EQ(StatusOf(describe("Authorization: " + std::string(kBasicOther) + "\r\n")), 200);
}

TEST_F(CamsimRtsp, StopEndsEveryStreamAndStartListensAgainOnTheSamePort)
{
    SwitchAuthenticationOff();
    const std::uint16_t port = Camera().RtspPort();
    UdpPlayer player(port, "/rtspjpegqcif");
    ASSERT_TRUE(player.IsPlaying());
    ASSERT_GT(player.PacketsWithin(500ms), 0);
    RtspConnection idle(port);
    ASSERT_TRUE(idle.IsOpen());

    ASSERT_TRUE(Camera().StopRtsp());
    EXPECT_TRUE(player.Connection().ClosedWithin(2s));
    EXPECT_TRUE(idle.ClosedWithin(2s));
    // Datagrams already on their way are drained first.
    player.PacketsWithin(300ms);
    EXPECT_EQ(player.PacketsWithin(1s), 0) << "the media still sends after the stop";
    EXPECT_TRUE(ConnectionRefused(port));

    ASSERT_TRUE(Camera().StartRtsp());
    UdpPlayer again(port, "/rtspjpegqcif");
    ASSERT_TRUE(again.IsPlaying());
    EXPECT_GT(again.PacketsWithin(500ms), 0);
}
}
}
