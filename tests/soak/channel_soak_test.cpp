// Many host sessions in a row against one simulated camera: open the driver, start a channel with
// motion detection, move and stop the PTZ head, stop the channel, close the driver. Every cycle must
// leave no thread behind and stop within its bound; run under LeakSanitizer (scripts/soak.sh), the
// process must also end without a leak. Half the cycles stop as soon as video arrives; the others
// stop at a point that moves through the channel's start-up, so that stops meet the channel in
// every state it passes through.
//
//   SOAK_CYCLES   number of cycles (default 500)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include <brantel/ptz_driver.h>
#include <brantel/video_capture.h>

#include "camsim_peer.h"
#include "host_fixture.h"
#include "process_status.h"
#include "ptz/ptz_result_codes.h"
#include "short_timeout_driver.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kRequestTimeoutMs = 2000;
constexpr std::uint32_t kSignalTimeoutMs = 4000;
// A channel's threads, and with them its motion channel's, are waited for at most twice the request
// time-out; closing the driver stops the PTZ and IO threads as well, each within the same bound.
constexpr auto kStopBound = std::chrono::milliseconds(2 * kRequestTimeoutMs);

constexpr const char* kProfiles = "profile_00_name=H264 CIF\r\n"
                                  "profile_00_fps_range=1~30\r\n"
                                  "profile_00_bps_range=256,512\r\n"
                                  "profile_00_quality_range=\r\n";

std::uint32_t Cycles()
{
    const char* text = std::getenv("SOAK_CYCLES");
    const long cycles = text != nullptr ? std::strtol(text, nullptr, 10) : 500;
    return cycles > 0 ? static_cast<std::uint32_t>(cycles) : 500;
}

// Threads end a moment after they are joined as far as /proc is concerned; this waits that moment out.
bool ThreadsBackTo(std::size_t baseline)
{
    const Clock::time_point deadline = Clock::now() + 2s;
    while (testing::ThreadCount() > baseline)
    {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class ChannelSoak : public testing::HostFixture
{
protected:
    void SetUp() override
    {
        testing::CamsimOptions options;
        options.rtsp = true;
        options.extraArguments = {"--profile-text", kProfiles, "--alarm-interval", "1"};
        camera = std::make_unique<testing::CamsimPeer>(options);
        ASSERT_TRUE(camera->IsReady()) << camera->StartFailure();
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(camera->HttpPort());
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "(none)");
        kit.Params().SetExtraParam(3, "00:1C:A8:12:34:56");
        kit.Params().SetExtraParam(4, std::to_string(camera->RtspPort()));
        kit.Params().SetExtraParam(5, "h264:cif 352x240 30 256-512- -,;#");
        kit.Params().SetExtraParam(6, "1,1,3");
        kit.Channel().Format().SetCodec(3);
        kit.Channel().Format().Resolution().Set(352, 240);
        kit.Channel().Recording().SetFrameRate(25);
        kit.Channel().Recording().SetQuality(50);
        kit.Channel().Recording().SetMotionDetection(true);
        kit.Sink().SetFrameCallback(
            [this](const hostkit::DeliveredFrame& frame)
            {
                if (frame.typeCode != ipcapture::kTypeCodeMotion)
                    ++videoFrames;
            });
    }

    // True once a video frame (not a motion record) came after `before` of them.
    bool WaitForVideo(std::uint64_t before, Clock::duration timeout) const
    {
        const Clock::time_point deadline = Clock::now() + timeout;
        while (videoFrames <= before)
        {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    std::unique_ptr<testing::CamsimPeer> camera;
    std::atomic<std::uint64_t> videoFrames{0};
};

TEST_F(ChannelSoak, EveryCycleStopsInTimeAndLeavesNoThreadBehind)
{
    const std::uint32_t cycles = Cycles();
    const std::size_t baseline = testing::ThreadCount();
    Clock::duration longestStop{};
    std::uint32_t longestStopCycle = 0;
    std::uint32_t withVideo = 0;
    for (std::uint32_t cycle = 1; cycle <= cycles; ++cycle)
    {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        auto driver = std::make_unique<testing::ShortTimeoutDriver>();
        ASSERT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        driver->SetTimeouts(kRequestTimeoutMs, kSignalTimeoutMs);
        ipcapture::IIPVideoCaptureEx2* video = driver->GetVideoCaptureEx2();
        ASSERT_NE(video, nullptr);
        const std::uint64_t framesBefore = videoFrames;
        ASSERT_TRUE(video->StartChannel(0, &kit.Sink(), &kit.Channel()));

        IIPPTZDriverEx* ptz = driver->GetPTZDriverEx();
        ASSERT_NE(ptz, nullptr);
        IIPPTZApiEx* control = ptz->GetPTZApiEx(0);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->Move(1, 4), kPtzDone);
        EXPECT_EQ(control->Stop(), kPtzDone);

        if (cycle % 2 == 0)
        {
            ASSERT_TRUE(WaitForVideo(framesBefore, 20s)) << "no video in cycle " << cycle;
            ++withVideo;
        }
        else
        {
            // 0 to 1.2 s after the start, in steps that do not repeat for a long while.
            std::this_thread::sleep_for(std::chrono::milliseconds((cycle * 97) % 1200));
        }

        const Clock::time_point stopping = Clock::now();
        EXPECT_TRUE(video->StopChannel(0));
        const Clock::duration channelStop = Clock::now() - stopping;
        const Clock::time_point closing = Clock::now();
        driver->Close();
        driver.reset();
        const Clock::duration closeStop = Clock::now() - closing;

        EXPECT_LE(channelStop, kStopBound);
        EXPECT_LE(closeStop, kStopBound);
        for (const Clock::duration stop : {channelStop, closeStop})
        {
            if (stop > longestStop)
            {
                longestStop = stop;
                longestStopCycle = cycle;
            }
        }
        ASSERT_TRUE(ThreadsBackTo(baseline))
            << testing::ThreadCount() << " threads after cycle " << cycle << ", " << baseline << " before the first";
        ASSERT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
        if (cycle % 50 == 0)
            std::cout << "soak: " << cycle << " cycles, longest stop so far "
                      << std::chrono::duration_cast<std::chrono::milliseconds>(longestStop).count() << " ms"
                      << std::endl;
    }
    EXPECT_EQ(kit.Debug().CountContaining("terminated"), 0u) << "a thread had to be terminated";
    // The cycles did reach the camera's alarm stream and PTZ, not just the video.
    std::size_t alarmRequests = 0;
    std::size_t ptzRequests = 0;
    for (const testing::CamsimRequest& request : camera->Requests())
    {
        alarmRequests += request.path == "/getalarmmotion" ? 1 : 0;
        ptzRequests += request.path == "/control" ? 1 : 0;
    }
    EXPECT_GT(alarmRequests, 0u);
    EXPECT_GT(ptzRequests, 0u);
    const auto longestMs = std::chrono::duration_cast<std::chrono::milliseconds>(longestStop).count();
    std::cout << "soak: " << cycles << " cycles (" << withVideo << " with video), threads back to " << baseline
              << " after each, longest stop " << longestMs << " ms (cycle " << longestStopCycle << ")\n";
    RecordProperty("longest_stop_ms", std::to_string(longestMs));
}
}
}
