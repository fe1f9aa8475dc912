// The motion channel against the simulated camera's pushed alarm stream: what the host's frame sink gets.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/motion_channel.h"
#include "motion_io_fixture.h"
#include "wine_support.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;

class MotionChannel : public testing::MotionIOFixture
{
protected:
    void TearDown() override
    {
        if (channel)
            channel->Stop();
    }

    void StartChannel()
    {
        channel.reset(driver.CreateMotionChannel(0, &kit.Sink()));
        ASSERT_NE(channel, nullptr);
        ASSERT_TRUE(channel->Start());
    }

    // The motion state of every motion frame so far.
    std::vector<int> States()
    {
        std::vector<int> states;
        for (const hostkit::DeliveredFrame& frame : kit.Sink().Frames())
        {
            if (frame.typeCode == ipcapture::kTypeCodeMotion && frame.data.size() == 2)
                states.push_back(frame.data[1]);
        }
        return states;
    }
    bool WaitForStates(std::size_t count, std::chrono::milliseconds timeout = 5s)
    {
        return kit.Sink().WaitForFrames(count, timeout);
    }

    std::unique_ptr<IMotionChannel> channel;
};

TEST_F(MotionChannel, FirstPartGivesBothStatesThenOnlyChanges)
{
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    const std::vector<hostkit::DeliveredFrame> frames = kit.Sink().Frames();
    const hostkit::DeliveredFrame& first = frames.front();
    EXPECT_EQ(first.typeCode, ipcapture::kTypeCodeMotion);
    EXPECT_EQ(first.data, (std::vector<std::uint8_t>{1, 1}));
    EXPECT_EQ(first.capacity, 1024u);
    EXPECT_EQ(first.ownerName, "CBaseMotionChannel");
    EXPECT_EQ(first.width, 320u);
    EXPECT_EQ(first.height, 240u);
    EXPECT_EQ(first.sizeClass, 2u);
    EXPECT_TRUE(first.marked);

    Alarm("motion=1");
    ASSERT_TRUE(WaitForStates(3));
    // The same state once more: the camera pushes a part, the host gets nothing.
    Alarm("motion=1");
    Alarm("motion=0");
    ASSERT_TRUE(WaitForStates(4));
    EXPECT_EQ(States(), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(kit.Sink().DeliveredCount(), 4u);
}

// Cameras differ in where the boundary goes and how the body is framed; none may hold an event back
// until the next one.
TEST_F(MotionChannel, EachEventCountsWithoutWaitingForTheNext)
{
    const std::vector<std::string> styles = {
        "boundary=trailing&transfer=length",        "boundary=leading&transfer=length",
        "boundary=leading&transfer=chunked",        "boundary=trailing&transfer=chunked&spaces=1",
        "boundary=leading&transfer=close&spaces=1",
    };
    // Wine's WinHTTP, having read a chunk to its end, reads the next chunk's size line before it returns, which
    // holds every chunked event back until the next: those styles are checked on Linux (and on Windows).
    const bool wine = testing::RunningUnderWine();
    for (const std::string& style : styles)
    {
        if (wine && style.find("chunked") != std::string::npos)
            continue;
        SCOPED_TRACE(style);
        Style(style);
        Alarm("motion=0");
        kit.Sink().Clear();
        StartChannel();
        ASSERT_TRUE(WaitForStates(2));
        Alarm("motion=1");
        ASSERT_TRUE(WaitForStates(3));
        EXPECT_EQ(States(), (std::vector<int>{1, 0, 1}));
        channel->Stop();
    }
    if (wine)
        GTEST_SKIP() << "the chunked styles: Wine's WinHTTP holds a chunk's end back until the next chunk";
}

TEST_F(MotionChannel, PartsCutAtEveryBytePositionGiveTheSameEvents)
{
    Style("boundary=leading&split_delay_ms=5");
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    // A leading event: the boundary line, the part's head, "MotionDetect=N", the input line and a blank line.
    const std::size_t eventSize = std::string("--ipcamera\r\nContent-Type: text/plain\r\nContent-Length: 36\r\n\r\n"
                                              "MotionDetect=1\r\nAlarmInputDetect=0\r\n\r\n")
                                      .size();
    std::vector<int> expected = {1, 0};
    for (std::size_t cut = 1; cut < eventSize; ++cut)
    {
        Style("split=" + std::to_string(cut));
        const int motion = cut % 2;
        Alarm("motion=" + std::to_string(motion));
        expected.push_back(motion);
        ASSERT_TRUE(WaitForStates(expected.size())) << "cut at " << cut;
    }
    EXPECT_EQ(States(), expected);
}

TEST_F(MotionChannel, AnAnswerWithoutBoundaryGivesNothing)
{
    Misbehave("path=/getalarmmotion&action=status&status=200");
    StartChannel();
    ASSERT_TRUE(WaitForRequests("/getalarmmotion", 2)) << "it asks again after the answer ends";
    EXPECT_EQ(kit.Sink().DeliveredCount(), 0u);
    Camera().Reset();
    EXPECT_TRUE(WaitForStates(2));
}

TEST_F(MotionChannel, ReconnectsWhenTheResponseEnds)
{
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    Style("end=1");
    ASSERT_TRUE(WaitForRequests("/getalarmmotion", 2));
    Alarm("motion=1");
    ASSERT_TRUE(WaitForStates(3));
    EXPECT_EQ(States(), (std::vector<int>{1, 0, 1})) << "the new response's first part repeats no state";
}

TEST_F(MotionChannel, SignalLossIsReportedOnceAfterSilence)
{
    driver.SetTimeouts(500, 1500);
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    // The camera still answers, but pushes nothing any more.
    Style("silent=1&end=1");
    ASSERT_TRUE(kit.Sink().WaitForSignalLost(1, 8s));
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(kit.Sink().SignalLostCount(), 1u);
}

// Frames come only on changes; a camera that keeps its state but keeps pushing is alive.
TEST_F(MotionChannel, NoSignalLossWhileHeartbeatsArrive)
{
    driver.SetTimeouts(2000, 1000);
    Style("heartbeat=0.2");
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(kit.Sink().SignalLostCount(), 0u);
    EXPECT_EQ(kit.Sink().DeliveredCount(), 2u);
}

// A stop waits for nothing like the request time-out, whether the read waits for a part or the request
// for the camera's answer.
TEST_F(MotionChannel, StopDuringABlockedRequestReturnsPromptly)
{
    driver.SetTimeouts(5000, 30000);
    const std::vector<std::string> stalls = {"silent", "stall-before-headers"};
    for (const std::string& stall : stalls)
    {
        SCOPED_TRACE(stall);
        Camera().Reset();
        Camera().ForgetRequests();
        if (stall == "silent")
            Style("silent=1");
        else
            Misbehave("path=/getalarmmotion&action=stall-before-headers&seconds=30");
        StartChannel();
        ASSERT_TRUE(WaitForRequests("/getalarmmotion", 1));
        std::this_thread::sleep_for(200ms);
        const auto before = std::chrono::steady_clock::now();
        channel->Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
        Style("silent=0");
    }
}

// A camera whose alarm part never ends keeps writing without another boundary: the channel keeps
// what it holds of it bounded, reports the signal lost (bytes that never make a part are no sign of
// a working camera), takes the state again from the next response, and a stop ends the busy read
// at once.
TEST_F(MotionChannel, APartThatNeverEndsLosesTheSignalAndTheNextResponseCounts)
{
    Style("endless=8192");
    StartChannel();
    ASSERT_TRUE(WaitForStates(2));
    // Past the signal time-out of 1.5 s: about 300 KiB of one part, well past what the channel keeps of it.
    ASSERT_TRUE(kit.Sink().WaitForSignalLost(1, 5s));
    EXPECT_EQ(States(), (std::vector<int>{1, 0}));

    Alarm("motion=1");
    Style("endless=0&end=1");
    ASSERT_TRUE(WaitForStates(3));
    EXPECT_EQ(States(), (std::vector<int>{1, 0, 1}));

    // The new response's part never ends either: the read never waits, and the stop must still come.
    Style("endless=8192&end=1");
    std::this_thread::sleep_for(500ms);
    const auto before = std::chrono::steady_clock::now();
    channel->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
}

TEST_F(MotionChannel, AChannelStartedWithMotionWantedDeliversMotionFrames)
{
    kit.Channel().Recording().SetMotionDetection(true);
    ipcapture::IIPVideoCaptureEx2* capture = driver.GetVideoCaptureEx2();
    ASSERT_NE(capture, nullptr);
    ASSERT_TRUE(capture->StartChannel(0, &kit.Sink(), &kit.Channel()));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (States().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    capture->StopChannel(0);
    EXPECT_EQ(States(), (std::vector<int>{1, 0}));
}
}
}
