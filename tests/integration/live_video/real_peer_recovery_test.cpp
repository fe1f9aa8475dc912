// Real RTSP servers ending, keeping and pausing a session: Debian's GStreamer RTSP server (the
// simulated camera) and VLC as an independent second one. The host kit's frame callback stamps each
// frame with a steady clock, so that a hole in the recording is measured as the host would see it.
#include <iostream>
#include <mutex>

#include "live_video_fixture.h"
#include "vlc_peer.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Signal losses are reported after this much silence; a session the camera ended must come back
// long before it.
constexpr std::uint32_t kSignalTimeoutMs = 30000;
// Video back within 3 s is the goal; the rest is room for a loaded machine.
constexpr auto kLongestAcceptableGap = 5s;

std::size_t CountStartingWith(const std::vector<std::string>& requests, const std::string& method)
{
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(),
                                                  [&](const std::string& request)
                                                  { return request.rfind(method + " ", 0) == 0; }));
}

class RealPeers : public LiveVideo
{
protected:
    void SetUp() override
    {
        kit.Sink().SetFrameCallback(
            [this](const hostkit::DeliveredFrame&)
            {
                const std::lock_guard<std::mutex> lock(m_arrivalsMutex);
                m_arrivals.push_back(Clock::now());
            });
    }

    // The longest time without a frame from the first frame on, counting the silence up to now.
    Clock::duration LongestGap() const
    {
        const std::lock_guard<std::mutex> lock(m_arrivalsMutex);
        Clock::duration longest{};
        for (std::size_t i = 1; i <= m_arrivals.size(); ++i)
        {
            const Clock::time_point next = i < m_arrivals.size() ? m_arrivals[i] : Clock::now();
            longest = std::max(longest, next - m_arrivals[i - 1]);
        }
        return longest;
    }

    Clock::time_point FirstArrival() const
    {
        const std::lock_guard<std::mutex> lock(m_arrivalsMutex);
        return m_arrivals.empty() ? Clock::time_point::max() : m_arrivals.front();
    }

    // Reported with the test's result, for the notes on how long video was away.
    void ReportGap(const std::string& name, Clock::duration gap)
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(gap).count();
        std::cout << name << ": " << ms << " ms\n";
        RecordProperty(name, std::to_string(ms));
    }

    ipcapture::IIPVideoCaptureEx2* StartH264(std::uint32_t signalTimeoutMs)
    {
        RequestStream(3, 352, 240, 25, 50);
        ipcapture::IIPVideoCaptureEx2* video = OpenWithShortTimeouts(2000, signalTimeoutMs);
        if (video == nullptr || !video->StartChannel(0, &kit.Sink(), &kit.Channel()))
            return nullptr;
        return video;
    }

private:
    mutable std::mutex m_arrivalsMutex;
    std::vector<Clock::time_point> m_arrivals;
};

// VLC serves the H.264 of a file over UDP (it refuses interleaved TCP with 461), with its own
// session description, control URLs and packetisation.
TEST_F(RealPeers, VlcStreamsH264OverUdpThatDecodesCleanly)
{
    StartCifCamera();
    testing::VlcPeer vlc("rtsph264cif");
    ASSERT_TRUE(vlc.IsReady()) << vlc.StartFailure();
    kit.Params().SetExtraParam(4, std::to_string(vlc.Port()));
    RequestStream(3, 352, 240, 25, 50);
    OpenDriver();

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(30, 20s)) << LogText();
    capture->StopChannel(0);

    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    EXPECT_EQ(frames.front().typeCode, ipcapture::kTypeCodeH264) << "the first frame is a key frame";
    EXPECT_EQ(frames.front().width, 352u);
    std::size_t decoded = 0;
    EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames), ".h264", &decoded), "");
    EXPECT_EQ(decoded, frames.size());
}

// A camera that announces its parameter sets only in the session description (and cuts its key
// frames into fragments) shows its first key frame, with the sets in front, not the next one a
// whole key-frame period later.
TEST_F(RealPeers, FirstKeyFrameOfACameraWithSetsOnlyInTheSdpIsShown)
{
    // Six seconds between key frames at 25 fps: a dropped first key frame cannot go unnoticed.
    StartCifCamera(std::vector<std::string>{"--no-in-band-parameter-sets", "--key-frame-period", "150"});
    const Clock::time_point started = Clock::now();
    ASSERT_NE(StartH264(kSignalTimeoutMs), nullptr);
    ASSERT_TRUE(kit.Sink().WaitForFrames(1, 20s)) << LogText();
    const Clock::duration firstFrame = FirstArrival() - started;
    ReportGap("first_frame_sets_only_in_sdp", firstFrame);
    EXPECT_LT(firstFrame, 4s) << LogText();
    // After the access unit delimiter, the first unit of the first frame is the sequence parameter set.
    const std::vector<std::uint8_t> first = kit.Sink().Frames().front().data;
    int firstUnit = -1;
    for (std::size_t at = 0; at + 3 < first.size() && firstUnit < 0; ++at)
    {
        if (first[at] == 0 && first[at + 1] == 0 && first[at + 2] == 1 && (first[at + 3] & 0x1F) != 9)
            firstUnit = first[at + 3] & 0x1F;
    }
    EXPECT_EQ(firstUnit, 7);
}

struct RestartCase
{
    const char* name;
    bool vlc;
    bool interleaved;
};

class ServerRestart : public RealPeers, public ::testing::WithParamInterface<RestartCase>
{
};

// The camera's RTSP server restarts at once: the connection closes, the session is gone, and the
// port listens again. That is a definite end of the session, not silence, so the stream is opened
// again right away instead of after the signal time-out.
TEST_P(ServerRestart, BringsVideoBackWithinSeconds)
{
    const RestartCase& server = GetParam();
    StartCifCamera();
    std::unique_ptr<testing::VlcPeer> vlc;
    if (server.vlc)
    {
        vlc = std::make_unique<testing::VlcPeer>("rtsph264cif");
        ASSERT_TRUE(vlc->IsReady()) << vlc->StartFailure();
        kit.Params().SetExtraParam(4, std::to_string(vlc->Port()));
    }
    if (server.interleaved)
        UseRtpOverRtsp();
    ipcapture::IIPVideoCaptureEx2* video = StartH264(kSignalTimeoutMs);
    ASSERT_NE(video, nullptr);
    ASSERT_TRUE(kit.Sink().WaitForFrames(10, 20s)) << LogText();

    const Clock::time_point restart = Clock::now();
    if (vlc)
    {
        ASSERT_TRUE(vlc->Stop());
        ASSERT_TRUE(vlc->Start()) << vlc->StartFailure();
    }
    else
    {
        ASSERT_TRUE(camera->StopRtsp());
        ASSERT_TRUE(camera->StartRtsp());
    }
    // VLC takes a second or so to start again: the module cannot be faster than the server.
    const Clock::duration away = Clock::now() - restart;
    const std::uint64_t before = kit.Sink().DeliveredCount();
    // Long enough to see the time-out driven reopen too, so that its gap is measured either way.
    const bool back = kit.Sink().WaitForFrames(before + 10, 20s);
    const Clock::duration gap = LongestGap();
    ReportGap(std::string("gap_") + server.name, gap);
    ReportGap(std::string("server_away_") + server.name, away);
    ASSERT_TRUE(back) << LogText();
    EXPECT_LE(gap, kLongestAcceptableGap + away) << LogText();
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u) << "back long before the signal time-out";
}

INSTANTIATE_TEST_SUITE_P(RealPeers, ServerRestart,
                         ::testing::Values(RestartCase{"GStreamerOverUdp", false, false},
                                           RestartCase{"GStreamerInterleaved", false, true},
                                           RestartCase{"VlcOverUdp", true, false}),
                         [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

// A server that enforces the Session time-out ends a session whose client says nothing: over
// interleaved TCP the keep-alives and receiver reports go over the RTSP connection while streaming.
TEST_F(RealPeers, InterleavedSessionOutlivesTheServersSessionTimeout)
{
    constexpr int kSessionTimeoutSeconds = 4;
    testing::CamsimOptions options;
    options.sessionTimeoutSeconds = kSessionTimeoutSeconds;
    StartCifCamera(options);
    testing::TcpRecordingProxy proxy(camera->RtspPort());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    UseRtpOverRtsp();
    ipcapture::IIPVideoCaptureEx2* video = StartH264(kSignalTimeoutMs);
    ASSERT_NE(video, nullptr);
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();

    std::this_thread::sleep_for(std::chrono::seconds(3 * kSessionTimeoutSeconds));
    const Clock::duration gap = LongestGap();
    ReportGap("gap_past_session_timeout", gap);
    EXPECT_LT(gap, 2s) << "the server ended the session" << LogText();
    EXPECT_EQ(CountStartingWith(proxy.Requests(), "SETUP"), 1u) << "the session was kept, not opened again";
}

// VLC answers the SET_PARAMETER keep-alive with 501 and closes the RTSP connection, yet its session
// and the UDP stream go on, and GET_PARAMETER keeps the session: a refused keep-alive is no end of
// the stream, and a camera that refuses it is not opened again every keep-alive period.
TEST_F(RealPeers, KeepAliveRefusedByVlcKeepsTheVideoComing)
{
    constexpr int kSessionTimeoutSeconds = 4;
    StartCifCamera();
    testing::VlcPeer vlc("rtsph264cif", {"--rtsp-timeout", std::to_string(kSessionTimeoutSeconds)});
    ASSERT_TRUE(vlc.IsReady()) << vlc.StartFailure();
    testing::TcpRecordingProxy proxy(vlc.Port());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    ipcapture::IIPVideoCaptureEx2* video = StartH264(kSignalTimeoutMs);
    ASSERT_NE(video, nullptr);
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();

    std::this_thread::sleep_for(std::chrono::seconds(3 * kSessionTimeoutSeconds));
    const Clock::duration gap = LongestGap();
    ReportGap("gap_keep_alive_refused", gap);
    const std::vector<std::string> requests = proxy.Requests();
    EXPECT_LT(gap, 2s) << LogText();
    EXPECT_EQ(CountStartingWith(requests, "SETUP"), 1u) << "the session was kept, not opened again";
    EXPECT_GE(CountStartingWith(requests, "GET_PARAMETER") + CountStartingWith(requests, "OPTIONS"), 1u)
        << "the refused keep-alive was replaced";
}

// Over interleaved TCP the pause and the resume go over the connection that carries the video.
TEST_F(RealPeers, InterleavedPauseAndResumeKeepTheSession)
{
    StartCifCamera();
    testing::TcpRecordingProxy proxy(camera->RtspPort());
    kit.Params().SetExtraParam(4, std::to_string(proxy.Port()));
    UseRtpOverRtsp();
    ipcapture::IIPVideoCaptureEx2* video = StartH264(2000);
    ASSERT_NE(video, nullptr);
    ASSERT_TRUE(kit.Sink().WaitForFrames(5, 20s)) << LogText();

    ASSERT_TRUE(video->PauseChannel(0));
    ASSERT_TRUE(proxy.WaitForRequest("PAUSE", 5000)) << LogText();
    const std::uint64_t paused = kit.Sink().DeliveredCount();
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(kit.Sink().DeliveredCount(), paused);

    ASSERT_TRUE(video->ResumeChannel(0));
    ASSERT_TRUE(kit.Sink().WaitForFrames(paused + 5, 10s)) << LogText();
    const std::vector<std::string> requests = proxy.Requests();
    EXPECT_EQ(CountStartingWith(requests, "SETUP"), 1u) << "the session was kept";
    EXPECT_GE(CountStartingWith(requests, "PLAY"), 2u) << "the resume asked the camera to play again";
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u);
}
}
}
