#include <gtest/gtest.h>

#include <future>
#include <random>
#include <thread>

#include "support/host_fixture.h"
#include "test_channels.h"

namespace kestrav
{
namespace
{
class VideoCapture : public testing::HostFixture
{
protected:
    VideoCapture() : driver(script) { kit.Model().SetVideoChannelCount(2); }

    void SetUp() override
    {
        ASSERT_TRUE(driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        driver.SetRequestTimeout(2000);
        capture = driver.GetVideoCaptureEx2();
        ASSERT_NE(capture, nullptr);
    }

    void TearDown() override
    {
        driver.Close();
        EXPECT_EQ(script.liveChannels, 0) << "Close deletes every channel";
        EXPECT_EQ(script.liveMotionChannels, 0);
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
    }

    bool StartMain(std::uint32_t channel = 0) { return capture->StartChannel(channel, &kit.Sink(), &kit.Channel()); }

    testing::ChannelScript script;
    testing::TestDriver driver;
    ipcapture::IIPVideoCaptureEx2* capture = nullptr;
};

TEST_F(VideoCapture, RunsAChannelFromStartToStop)
{
    EXPECT_EQ(capture->GetChannelCount(), 2u);
    ASSERT_TRUE(StartMain());
    ASSERT_TRUE(kit.Sink().WaitForFrames(2, std::chrono::seconds(5)));
    EXPECT_EQ(kit.Sink().LastFrame()->width, 704u);

    std::int32_t state = -1;
    std::int32_t extra = -1;
    char text[8] = "xyz";
    EXPECT_TRUE(capture->GetChannelState(0, &state, &extra, text, sizeof(text)));
    EXPECT_EQ(state, kChannelReceiving);
    EXPECT_EQ(extra, 0);
    EXPECT_STREQ(text, "");

    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_EQ(script.liveChannels, 0);
    extra = -1;
    std::strcpy(text, "xyz");
    EXPECT_FALSE(capture->GetChannelState(0, &state, &extra, text, sizeof(text)));
    EXPECT_EQ(extra, 0) << "cleared also without a channel";
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(capture->StopChannel(0)) << "nothing left to stop";
}

TEST_F(VideoCapture, IndexesOutsideTheTableChangeNothing)
{
    EXPECT_FALSE(StartMain(2));
    EXPECT_FALSE(capture->StartStream(2, kStreamLive, &kit.Sink(), &kit.Channel()));
    EXPECT_FALSE(capture->StopChannel(2));
    EXPECT_FALSE(capture->StopStream(2, 0));
    EXPECT_FALSE(capture->PauseChannel(7));
    std::int32_t extra = -1;
    EXPECT_FALSE(capture->GetChannelState(9, nullptr, &extra, nullptr, 0));
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(script.createdChannels, 0);
}

TEST_F(VideoCapture, AStreamKindBeyondTheTableIsRefusedUntouched)
{
    ASSERT_TRUE(capture->StartStream(0, 3, &kit.Sink(), &kit.Channel())) << "place 3 exists";
    EXPECT_FALSE(capture->StartStream(0, 4, &kit.Sink(), &kit.Channel()));
    EXPECT_FALSE(capture->StopStream(0, 4));
    EXPECT_EQ(script.createdChannels, 1);
    EXPECT_EQ(script.liveChannels, 1);
}

TEST_F(VideoCapture, AFailedStartIsKeptAndReportedAsSignalLost)
{
    script.failStart = true;
    EXPECT_FALSE(StartMain());
    EXPECT_EQ(script.liveChannels, 1) << "kept until the next stop";
    std::int32_t state = -1;
    EXPECT_TRUE(capture->GetChannelState(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(state, kChannelSignalLost) << "stopped is reported as signal lost";
    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_EQ(script.liveChannels, 0);
}

TEST_F(VideoCapture, MotionDetectionAddsAMotionChannelOnlyToAStartedVideoChannel)
{
    kit.Channel().Recording().SetMotionDetection(true);
    script.failStart = true;
    EXPECT_FALSE(StartMain());
    EXPECT_EQ(script.createdMotionChannels, 0);

    script.failStart = false;
    script.motionStartResult = false;
    EXPECT_FALSE(StartMain()) << "the motion channel's start decides";
    EXPECT_EQ(script.liveMotionChannels, 1);

    script.motionStartResult = true;
    EXPECT_TRUE(StartMain());
    EXPECT_EQ(script.liveMotionChannels, 1) << "the earlier one was stopped and deleted";
    EXPECT_TRUE(capture->StopChannel(0));
    EXPECT_EQ(script.liveMotionChannels, 0);

    EXPECT_TRUE(capture->StartStream(0, kStreamMain, &kit.Sink(), &kit.Channel()));
    EXPECT_EQ(script.createdMotionChannels, 2) << "streams never get a motion channel";
}

TEST_F(VideoCapture, OnlyTheChannelStartGivesThePrivacyMasks)
{
    ASSERT_TRUE(StartMain(0));
    ASSERT_TRUE(capture->StartStream(1, kStreamMain, &kit.Sink(), &kit.Channel()));
    ASSERT_TRUE(capture->StartStream(1, kStreamRemote, &kit.Sink(), &kit.Channel()));
    std::lock_guard lock(script.startsMutex);
    ASSERT_EQ(script.starts.size(), 3u);
    EXPECT_TRUE(script.starts[0].masksGiven);
    EXPECT_EQ(script.starts[0].masks, &kit.Channel().Masks());
    EXPECT_EQ(script.starts[0].streamKind, kStreamMain);
    EXPECT_FALSE(script.starts[1].masksGiven);
    EXPECT_EQ(script.starts[1].streamKind, kStreamMain);
    EXPECT_FALSE(script.starts[2].masksGiven);
    EXPECT_EQ(script.starts[2].streamKind, kStreamRemote);
}

TEST_F(VideoCapture, StreamsLiveInTheirOwnPlaces)
{
    ASSERT_TRUE(capture->StartStream(0, kStreamLive, &kit.Sink(), &kit.Channel()));
    EXPECT_FALSE(capture->RestartChannel(0, &kit.Channel().Format().Resolution(), 25))
        << "restart needs the main channel";
    std::int32_t state = -1;
    EXPECT_FALSE(capture->GetChannelState(0, &state, nullptr, nullptr, 0)) << "state is the main channel's";
    EXPECT_FALSE(capture->PauseChannel(0));
    EXPECT_FALSE(capture->StopStream(0, kStreamRemote));
    EXPECT_TRUE(capture->StopChannel(0)) << "a live stream alone still counts";
    EXPECT_EQ(script.liveChannels, 0);
}

TEST_F(VideoCapture, RestartGivesTheMainChannelTheNewPicture)
{
    ASSERT_TRUE(StartMain());
    kit.Channel().Format().Resolution().Set(352, 288);
    ASSERT_TRUE(capture->RestartChannel(0, &kit.Channel().Format().Resolution(), 0x7005));
    kit.Sink().Clear();
    ASSERT_TRUE(kit.Sink().WaitForFrames(1, std::chrono::seconds(5)));
    EXPECT_EQ(kit.Sink().LastFrame()->width, 352u);
    EXPECT_FALSE(capture->PauseChannel(0)) << "the base channel cannot pause";
    EXPECT_FALSE(capture->ResumeChannel(0));
}

TEST_F(VideoCapture, MissingHostObjectsFailTheStartWithoutAChannel)
{
    kit.Channel().HideVideoFormat(true);
    EXPECT_FALSE(StartMain());
    kit.Channel().HideVideoFormat(false);
    kit.Channel().HideRecordingSettings(true);
    EXPECT_FALSE(StartMain());
    EXPECT_FALSE(capture->StartChannel(0, &kit.Sink(), nullptr));
    EXPECT_FALSE(capture->StartChannel(0, nullptr, &kit.Channel())) << "the factory makes nothing without a sink";
    kit.Channel().HideRecordingSettings(false);
    kit.Channel().Format().SetCodec(2);
    EXPECT_FALSE(StartMain()) << "no channel for an unknown codec";
    EXPECT_EQ(script.createdChannels, 0);
}

TEST_F(VideoCapture, AReplacedChannelIsStoppedOutsideTheTableLock)
{
    ASSERT_TRUE(StartMain());
    std::atomic<int> blockedLookups{0};
    script.onStop = [&]
    {
        // Another host thread asks the capture object something while this channel stops.
        auto answered = std::make_shared<std::promise<void>>();
        std::future<void> answer = answered->get_future();
        std::thread lookup(
            [this, answered]
            {
                capture->GetChannelCount();
                answered->set_value();
            });
        if (answer.wait_for(std::chrono::seconds(2)) == std::future_status::ready)
        {
            lookup.join();
            return;
        }
        // The lock is held: the lookup ends once the stop is over; do not deadlock on it.
        ++blockedLookups;
        lookup.detach();
    };
    ASSERT_TRUE(StartMain());
    EXPECT_EQ(script.createdChannels, 2);
    EXPECT_EQ(script.liveChannels, 1) << "the first channel was stopped and deleted";
    EXPECT_TRUE(capture->StopChannel(0));
    script.onStop = nullptr;
    EXPECT_EQ(blockedLookups, 0);
}

TEST_F(VideoCapture, ConcurrentStartsAndStopsLeaveNoChannelBehind)
{
    script.framePeriodMs = 1;
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t)
    {
        hosts.emplace_back(
            [this, t]
            {
                std::mt19937 random(static_cast<unsigned>(t));
                for (int i = 0; i < 60; ++i)
                {
                    const auto channel = static_cast<std::uint32_t>(random() % 2);
                    switch (random() % 5)
                    {
                    case 0:
                        StartMain(channel);
                        break;
                    case 1:
                        capture->StartStream(channel, random() % 3, &kit.Sink(), &kit.Channel());
                        break;
                    case 2:
                        capture->StopChannel(channel);
                        break;
                    case 3:
                        capture->StopStream(channel, random() % 3);
                        break;
                    default:
                        capture->GetChannelState(channel, nullptr, nullptr, nullptr, 0);
                        break;
                    }
                }
            });
    }
    for (auto& host : hosts)
        host.join();
    capture->StopChannel(0);
    capture->StopChannel(1);
    EXPECT_EQ(script.liveChannels, 0);
    EXPECT_GT(script.createdChannels, 0);
}
}
}
