// The simulated camera's replay mode as the benchmark uses it: the driver, created through the exports,
// streams a recorded 1080p H.264 stream from camsim.py --replay (brantel-replay-server), past the end of the
// recording where it loops, and FFmpeg judges what reached the host.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <brantel/capture_driver.h>
#include <brantel/exports.h>
#include <brantel/video_capture.h>

#include "camsim_peer.h"
#include "channels/camera_channel.h"
#include "ffmpeg_tools.h"
#include "host_fixture.h"
#include "media/h264_depacketizer.h"
#include "wine_support.h"

#ifndef BRANTEL_SOURCE_DIR
#error "BRANTEL_SOURCE_DIR must name the repository"
#endif

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using testing::CamsimOptions;
using testing::CamsimPeer;

// The recording is two seconds (50 frames) long, so 60 frames reach into its second pass.
constexpr int kRecordingSeconds = 2;
constexpr std::uint64_t kFramesPastTheLoop = 60;
// 1080p for the main and the live stream, as a device search of the camera's default profiles finds it.
constexpr const char* kCapabilities = "h264:1080p 1920x1080 30 1024-2048-4096-8192- -,;#"
                                      "h264:1080p 1920x1080 30 1024-2048-4096-8192- -,;#";

// The replay server, a Linux program, as the camera runs it: the one of this build, or for the Windows build
// (which has none, the server being a Linux test tool) $BRANTEL_REPLAY_SERVER or the one of the native build of
// the same tree, which CI builds first; empty when there is none.
std::string ReplayServer()
{
#ifdef BRANTEL_REPLAY_SERVER
    return BRANTEL_REPLAY_SERVER;
#else
    if (const char* given = std::getenv("BRANTEL_REPLAY_SERVER"); given != nullptr && *given != '\0')
        return given;
    const std::string native =
        std::string(BRANTEL_SOURCE_DIR) + "/build/default/tools/replay_server/brantel-replay-server";
    return std::filesystem::exists(testing::LocalPath(native)) ? native : std::string();
#endif
}

struct DriverDeleter
{
    void operator()(ipcapture::IIPCaptureDriver* driver) const { DeleteIPCapture(driver); }
};
using DriverPtr = std::unique_ptr<ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

// The frames of one stream as one Annex B stream, without the delimiter behind the last frame (FFmpeg
// would report a picture missing there).
std::vector<std::uint8_t> AnnexBStream(const std::vector<hostkit::DeliveredFrame>& frames, const std::string& owner)
{
    std::vector<std::uint8_t> bytes;
    for (const hostkit::DeliveredFrame& frame : frames)
    {
        if (frame.ownerName == owner)
            bytes.insert(bytes.end(), frame.data.begin(), frame.data.end());
    }
    if (bytes.size() >= std::size(CH264RTPMediaParser::kFrameTrailer))
        bytes.resize(bytes.size() - std::size(CH264RTPMediaParser::kFrameTrailer));
    return bytes;
}

std::size_t CountOf(const std::vector<hostkit::DeliveredFrame>& frames, const std::string& owner)
{
    std::size_t count = 0;
    for (const hostkit::DeliveredFrame& frame : frames)
        count += frame.ownerName == owner ? 1 : 0;
    return count;
}

class Replay : public testing::HostFixture
{
protected:
    void SetUp() override
    {
        if (ReplayServer().empty())
            GTEST_SKIP() << "no brantel-replay-server: build the default preset of this tree first, or name the "
                            "program in BRANTEL_REPLAY_SERVER";
    }

    // Made once per test program: the suites share it.
    static const std::string& RecordingFailure()
    {
        static const std::string failure = []
        {
            const std::string output =
                testing::RunCommand(std::string(BRANTEL_SOURCE_DIR) + "/scripts/make_replay_stream.sh " +
                                    testing::PeerPath(Recording()) + " " + std::to_string(kRecordingSeconds));
            return std::filesystem::exists(Recording()) ? std::string() : "no recording: " + output;
        }();
        return failure;
    }

    static const std::filesystem::path& Recording()
    {
        static const testing::TemporaryFile file(".rtp");
        return file.Path();
    }

    void StartCamera(bool interleaved)
    {
        ASSERT_EQ(RecordingFailure(), "");
        CamsimOptions options;
        options.rtsp = true;
        options.extraArguments = {"--replay", testing::PeerPath(Recording()), "--replay-server", ReplayServer()};
        camera = std::make_unique<CamsimPeer>(options);
        ASSERT_TRUE(camera->IsReady()) << camera->StartFailure();
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(camera->HttpPort());
        kit.Connection().SetUserName(options.user);
        kit.Connection().SetPassword(options.password);
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "(none)");
        kit.Params().SetExtraParam(3, "(none)");
        kit.Params().SetExtraParam(4, std::to_string(camera->RtspPort()));
        kit.Params().SetExtraParam(5, kCapabilities);
        if (interleaved)
        {
            std::ofstream(hostDirectory.Path() / "BrantelIPCapture.xml")
                << "<Configuration><DeviceDefault><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
                   "</DeviceDefault></Configuration>";
        }
        kit.Channel().Format().SetCodec(3);
        kit.Channel().Format().Resolution().Set(1920, 1080);
        kit.Channel().Recording().SetFrameRate(25);
        kit.Channel().Recording().SetQuality(50);
        driver.reset(static_cast<ipcapture::IIPCaptureDriverEx5*>(CreateIPCaptureEx5()));
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        capture = driver->GetVideoCaptureEx2();
        ASSERT_NE(capture, nullptr);
    }

    std::string LogText()
    {
        std::string text;
        for (const hostkit::DebugRecord& record : kit.Debug().Records())
            text += std::to_string(record.level) + " " + record.text + "\n";
        return text;
    }

    void TearDown() override
    {
        if (driver)
            driver->Close();
        driver.reset();
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
    }

    std::unique_ptr<CamsimPeer> camera;
    DriverPtr driver;
    ipcapture::IIPVideoCaptureEx2* capture = nullptr;
};

class ReplayOverEachTransport : public Replay, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ReplayOverEachTransport, DeliversFramesPastTheLoopThatDecodeCleanly)
{
    StartCamera(GetParam());

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(kFramesPastTheLoop, 20s)) << LogText();
    capture->StopChannel(0);

    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().typeCode, ipcapture::kTypeCodeH264);
    EXPECT_EQ(frames.front().width, 1920u);
    EXPECT_EQ(frames.front().height, 1080u);
    std::size_t decoded = 0;
    EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames, frames.front().ownerName), ".h264", &decoded), "");
    EXPECT_EQ(decoded, frames.size()) << "every frame, also those of the second pass, is a whole picture";
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Replay, ReplayOverEachTransport, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info)
                         { return info.param ? "Interleaved" : "OverUdp"; });

// FFmpeg, not the module (which would forgive it), judges the loop: across the end of the recording the
// packets of a session go on without a gap and their time stamps step one frame at a time.
TEST_F(Replay, LoopsWithContinuousSequenceNumbersAndTimeStamps)
{
    if (testing::RunningUnderWine())
        GTEST_SKIP() << "FFprobe against the replay server, both Linux programs and no module: checked natively";
    StartCamera(false);
    // A count of packets, not a time span: time stamps that went back would never reach its end. Over TCP,
    // so that a busy machine dropping a datagram cannot pass for a gap in the loop.
    const std::string output = testing::RunCommand(
        "timeout 15 " + std::string(testing::kFfprobe) + " -v warning -rtsp_transport tcp -read_intervals %+#80" +
        " -show_entries packet=pts -of csv=p=0 " + camera->RtspUrl("/rtsph2641080p"));

    std::vector<long long> stamps;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
    {
        // The time stamp is the first field: some lines carry more after a comma ("N/A," has been seen on a
        // busy machine), and a packet FFprobe has no time stamp for yet says "N/A".
        const std::string pts = line.substr(0, line.find(','));
        if (pts.empty() || pts == "N/A")
            continue;
        ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(pts[0]))) << "FFmpeg complains: " << line;
        stamps.push_back(std::stoll(pts));
    }
    ASSERT_GE(stamps.size(), kFramesPastTheLoop) << output;
    for (std::size_t i = 1; i < stamps.size(); ++i)
        ASSERT_EQ(stamps[i] - stamps[i - 1], 90'000 / 25) << "frame " << i << "\n" << output;
}

// The main and the live stream of one channel are two sessions of the same recording at once.
TEST_F(Replay, TwoConcurrentSessionsBothGetVideo)
{
    StartCamera(false);

    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(capture->StartStream(0, kStreamLive, &kit.Sink(), &kit.Channel()));
    const std::string main = "BrantelIPCapture::RecStream";
    const std::string live = "BrantelIPCapture::LiveStream";
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::vector<hostkit::DeliveredFrame> frames;
    do
    {
        kit.Sink().WaitForFrames(kit.Sink().DeliveredCount() + 1, 1s);
        frames = kit.Sink().Frames();
    } while ((CountOf(frames, main) < 25 || CountOf(frames, live) < 25) && std::chrono::steady_clock::now() < deadline);
    capture->StopStream(0, kStreamLive);
    capture->StopChannel(0);

    for (const std::string& owner : {main, live})
    {
        ASSERT_GE(CountOf(frames, owner), 25u) << owner << "\n" << LogText();
        std::size_t decoded = 0;
        EXPECT_EQ(testing::DecodeErrors(AnnexBStream(frames, owner), ".h264", &decoded), "") << owner;
        EXPECT_EQ(decoded, CountOf(frames, owner)) << owner;
    }
}
}
}
