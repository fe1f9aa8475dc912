#include <gtest/gtest.h>

#include "platform/sockets.h"
#include "support/host_fixture.h"
#include "test_channels.h"

namespace kestrav
{
namespace
{
using hostkit::DebugRecord;

class CameraChannel : public testing::HostFixture
{
protected:
    CameraChannel() : driver(script)
    {
        kit.Connection().SetAddress("10.0.0.5");
        kit.Model().SetModelName(""); // no opened line in the records
    }

    void Open(std::uint32_t channelCount = 1)
    {
        kit.Model().SetVideoChannelCount(channelCount);
        ASSERT_TRUE(driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        driver.SetRequestTimeout(2000);
    }

    std::unique_ptr<testing::TestChannel> MakeChannel(std::uint32_t number = 0)
    {
        return std::make_unique<testing::TestChannel>(number, &driver, &kit.Sink(), script);
    }

    static ChannelStartParams Params(std::uint32_t streamKind = kStreamMain)
    {
        ChannelStartParams params;
        params.frameRateCode = 0x7019;
        params.quality = 70;
        params.width = 704;
        params.height = 576;
        params.streamKind = streamKind;
        return params;
    }

    std::vector<DebugRecord> Records() { return kit.Debug().Records(); }

    testing::ChannelScript script;
    testing::TestDriver driver;
};

TEST_F(CameraChannel, AnnouncesOnlineAndStoppedOnAOneChannelDevice)
{
    Open();
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(3, std::chrono::seconds(5)));
    channel->Stop();

    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].level, kLogInformation);
    EXPECT_EQ(records[0].text, "kestrav::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is online");
    EXPECT_EQ(records[1].level, kLogInformation);
    EXPECT_EQ(records[1].text,
              "kestrav::CBaseCameraChannel::SetCameraState: Camera 10.0.0.5 is offline. Channel was stopped");
    EXPECT_EQ(channel->GetState(), kChannelStopped);
}

TEST_F(CameraChannel, NamesTheChannelAndStreamOnAFourChannelDevice)
{
    Open(4);
    auto channel = MakeChannel(2);
    ASSERT_TRUE(channel->Start(Params(kStreamLive)));
    ASSERT_TRUE(kit.Debug().WaitFor("is online", std::chrono::seconds(5)));
    channel->SetState(kChannelSignalLost);
    channel->SetCameraState(false);
    channel->SetCameraState(false); // no change, no line
    channel->SetState(kChannelReceiving);
    channel->SetCameraState(true);
    channel->SetCameraState(false);

    const auto records = Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].text,
              "kestrav::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 2) is online (Live)");
    EXPECT_EQ(records[1].level, kLogError);
    EXPECT_EQ(records[1].text,
              "kestrav::CBaseCameraChannel::SetCameraState: Signal was lost for video-server 10.0.0.5 (channel 2) "
              "(Live)");
    EXPECT_EQ(records[3].level, kLogError);
    EXPECT_EQ(records[3].text,
              "kestrav::CBaseCameraChannel::SetCameraState: Video-server 10.0.0.5 (channel 2) is offline or failed "
              "(Live)");
    channel->Stop();
    EXPECT_EQ(Records().size(), 4u) << "already offline: the stop adds no line";
}

TEST_F(CameraChannel, TheRemoteStreamCarriesItsSuffix)
{
    Open();
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params(kStreamRemote)));
    ASSERT_TRUE(kit.Debug().WaitFor("is online", std::chrono::seconds(5)));
    channel->SetState(kChannelSignalLost);
    channel->SetCameraState(false);
    EXPECT_EQ(Records().back().text,
              "kestrav::CBaseCameraChannel::SetCameraState: Signal was lost for camera 10.0.0.5 (Remote)");
}

TEST_F(CameraChannel, StoppingANeverStartedChannelLogsNothingAndLeavesSocketsAlone)
{
    Open();
    const int startups = platform::ActiveSocketStartups();
    auto channel = MakeChannel();
    channel->Stop();
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(platform::ActiveSocketStartups(), startups);
}

TEST_F(CameraChannel, StartsTheSocketsOnceAndCleansThemUp)
{
    Open();
    const int startups = platform::ActiveSocketStartups();
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params()));
    EXPECT_EQ(platform::ActiveSocketStartups(), startups + 1);
    ASSERT_TRUE(channel->Restart(Params()));
    EXPECT_EQ(platform::ActiveSocketStartups(), startups + 1) << "a restart does not touch the sockets";
    ASSERT_TRUE(channel->Start(Params()));
    EXPECT_EQ(platform::ActiveSocketStartups(), startups + 1);
    channel->Stop();
    EXPECT_EQ(platform::ActiveSocketStartups(), startups);
}

TEST_F(CameraChannel, RestartTakesTheNewPictureButKeepsTheQuality)
{
    Open();
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params()));
    ChannelStartParams changed;
    changed.frameRateCode = 40;
    changed.width = 352;
    changed.height = 288;
    ASSERT_TRUE(channel->Restart(changed));
    EXPECT_EQ(channel->GetStartParams().quality, 70u);
    EXPECT_EQ(channel->GetStartParams().width, 352u);
    EXPECT_EQ(channel->GetStartParams().frameRateCode, 40u);
    kit.Sink().Clear();
    ASSERT_TRUE(kit.Sink().WaitForFrames(1, std::chrono::seconds(5))) << "the restarted thread delivers";
    EXPECT_EQ(kit.Sink().LastFrame()->width, 352u);
}

TEST_F(CameraChannel, APausedChannelSwallowsFrames)
{
    Open();
    auto channel = MakeChannel();
    EXPECT_TRUE(channel->SetPaused(true));
    EXPECT_FALSE(channel->SetPaused(true));
    CMediaFrame frame = CMediaFrame::Allocate(&kit.Allocator(), ipcapture::kTypeCodeJpeg, 16, "x");
    EXPECT_TRUE(frame.Deliver([&](ipcapture::IIPMediaBuffer* buffer) { return channel->SendFrameCallback(buffer); }));
    EXPECT_EQ(kit.Sink().DeliveredCount(), 0u);
    EXPECT_TRUE(channel->SetPaused(false));
    EXPECT_FALSE(channel->SendFrameCallback(nullptr));
    EXPECT_FALSE(channel->Pause());
    EXPECT_FALSE(channel->Resume());
}

TEST_F(CameraChannel, AThrowingSinkNeverReachesTheCaptureThread)
{
    Open();
    kit.Sink().SetDeliverFault(hostkit::HostFrameSink::DeliverFault::ThrowForeignObject);
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(kit.Sink().WaitForFrames(3, std::chrono::seconds(5))) << "the thread goes on after each throw";
    channel->Stop();
    EXPECT_GE(channel->framesRefused, 3);
    EXPECT_GE(kit.Debug().CountContaining(
                  "kestrav::CBaseCameraChannel::SendFrameCallback(): Unexpected exception, device 10.0.0.5:80"),
              3u);
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(CameraChannel, ACaptureThreadIgnoringItsStopIsTerminatedAfterTwiceTheRequestTimeOut)
{
    Open();
    driver.SetRequestTimeout(50);
    script.ignoreStop = true;
    auto channel = MakeChannel();
    ASSERT_TRUE(channel->Start(Params()));
    ASSERT_TRUE(kit.Debug().WaitFor("is online", std::chrono::seconds(5)));

    const auto start = std::chrono::steady_clock::now();
    channel->Stop();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(channel->unwound) << "the thread was unwound, not left running";
    const auto warning = kit.Debug().WaitFor("cannot be stopped", std::chrono::seconds(0));
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->level, kLogWarning);
    EXPECT_EQ(warning->text, "kestrav::CBaseCameraChannel::StopThread: Video capture thread for camera 10.0.0.5 "
                             "cannot be stopped and will be terminated now");

    script.ignoreStop = false;
    ASSERT_TRUE(channel->Start(Params())) << "the channel starts again after a termination";
    EXPECT_TRUE(kit.Sink().WaitForFrames(1, std::chrono::seconds(5)));
}

TEST_F(CameraChannel, TheCaptureThreadStoppingItselfDoesNotWaitForItself)
{
    Open();
    auto channel = MakeChannel();
    channel->stopFromInside = true;
    ASSERT_TRUE(channel->Start(Params()));
    for (int i = 0; i < 500 && !channel->stoppedFromInside; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(channel->stoppedFromInside);
    channel->Stop();
    EXPECT_EQ(kit.Debug().CountContaining("cannot be stopped"), 0u);
}
}
}
