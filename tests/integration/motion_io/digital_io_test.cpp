// The digital IO against the simulated camera: which relay requests go out and what the host's IO sink
// hears about the alarm input.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hostkit/host_io_sink.h"
#include "io/io_base.h"
#include "motion_io_fixture.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using InputChanges = std::vector<hostkit::HostIOSink::InputChange>;

constexpr const char* kPollFailed = "GetInputStates() method failed!";

class DigitalIO : public testing::MotionIOFixture
{
protected:
    void SetUp() override
    {
        MotionIOFixture::SetUp();
        io = dynamic_cast<CIOBase*>(driver.GetCaptureIO());
        ASSERT_NE(io, nullptr);
        io->SetInputPeriod(200);
        ASSERT_TRUE(io->SetIOCallback(&sink));
    }
    void TearDown() override
    {
        if (io != nullptr)
            io->StopIO();
    }

    // The requests for relay 1, in order.
    static std::vector<std::string> Relay1Requests()
    {
        std::vector<std::string> targets;
        for (const std::string& target : RequestsTo("/setio"))
        {
            if (target.find("relay1=") != std::string::npos)
                targets.push_back(target);
        }
        return targets;
    }
    static bool WaitForRelay1Requests(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (Relay1Requests().size() < count)
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    hostkit::HostIOSink sink;
    CIOBase* io = nullptr;
};

TEST_F(DigitalIO, StartSwitchesEveryRelayOffAndPollsAtOnce)
{
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitForRequests("/setio", kOutputs));
    ASSERT_TRUE(WaitForRequests("/getalarmmotion", 1));
    EXPECT_EQ(RequestsTo("/setio"), (std::vector<std::string>{"/setio?relay1=0", "/setio?relay2=0"}));
    ASSERT_TRUE(sink.WaitForInputChanges(1, 5s));
    EXPECT_EQ(sink.InputChanges(), (InputChanges{{0, 1}}));
}

TEST_F(DigitalIO, RelaysFollowTheStatesAskedAndRepeatsAreNotSent)
{
    EXPECT_FALSE(io->SetOutputState(0, 2)) << "not started";
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitForRelay1Requests(1));
    // Unknown and anything else must never switch a relay on.
    for (const std::int32_t state : {0, 3, -1, 0x7FFFFFFF})
        EXPECT_FALSE(io->SetOutputState(0, state)) << state;
    EXPECT_TRUE(io->SetOutputState(0, 2));
    ASSERT_TRUE(WaitForRelay1Requests(2));
    EXPECT_TRUE(io->SetOutputState(0, 2));
    EXPECT_TRUE(io->SetOutputState(0, 1));
    ASSERT_TRUE(WaitForRelay1Requests(3));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Relay1Requests(), (std::vector<std::string>{"/setio?relay1=0", "/setio?relay1=1", "/setio?relay1=0"}));
    EXPECT_EQ(sink.ResetCount(), 0u);
    ASSERT_TRUE(io->StopIO());
    EXPECT_FALSE(io->SetOutputState(0, 2)) << "stopped";
}

// While the camera is slow to answer, a host that flips a relay many times gets only the last state sent.
TEST_F(DigitalIO, OnlyTheLatestStateOfAnOutputWaits)
{
    Misbehave("path=/setio&action=stall-after-headers&seconds=0.5&times=2");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitForRelay1Requests(1));
    for (const std::int32_t state : {2, 1, 2, 1, 2})
        EXPECT_TRUE(io->SetOutputState(0, state));
    ASSERT_TRUE(WaitForRelay1Requests(2));
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Relay1Requests(), (std::vector<std::string>{"/setio?relay1=0", "/setio?relay1=1"}));
}

TEST_F(DigitalIO, AnEmptyAnswerToARelayRequestIsSuccess)
{
    Misbehave("path=/setio&action=empty");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitForRelay1Requests(1));
    EXPECT_TRUE(io->SetOutputState(0, 2));
    ASSERT_TRUE(WaitForRelay1Requests(2));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sink.ResetCount(), 0u);
    EXPECT_EQ(driver.CountLines("Unable to change output state"), 0u);
}

TEST_F(DigitalIO, InputChangesAreReportedOnce)
{
    Alarm("input=1");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(sink.WaitForInputChanges(1, 5s));
    ASSERT_TRUE(WaitForRequests("/getalarmmotion", 5)) << "several polls";
    EXPECT_EQ(sink.InputChanges(), (InputChanges{{0, 2}}));
    Alarm("input=0");
    ASSERT_TRUE(sink.WaitForInputChanges(2, 5s));
    EXPECT_EQ(sink.InputChanges(), (InputChanges{{0, 2}, {0, 1}}));
}

// The input's line cut by the end of a read ("AlarmInput" | "Detect=1") is read to its end, not taken
// for a missing, inactive input.
TEST_F(DigitalIO, AnInputLineCutAcrossReadsIsReadWhole)
{
    const std::size_t cut = std::string("--ipcamera\r\nContent-Type: text/plain\r\nContent-Length: 36\r\n\r\n"
                                        "MotionDetect=0\r\nAlarmInput")
                                .size();
    Style("split=" + std::to_string(cut) + "&split_delay_ms=300");
    Alarm("input=1");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(sink.WaitForInputChanges(1, 5s));
    EXPECT_EQ(sink.InputChanges(), (InputChanges{{0, 2}}));
    EXPECT_EQ(sink.ResetCount(), 0u);
}

// Each kind of failed poll resets the states and tells the host every time, but is logged once per run of
// failures; the first good poll after it reports the input again.
TEST_F(DigitalIO, AFailingCameraResetsTheStatesWithOneLinePerRun)
{
    const std::vector<std::string> failures = {
        "action=status&status=500",
        // An answer without the input's line says nothing about it.
        "action=status&status=200",
        "action=drop",
    };
    Alarm("input=1");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(sink.WaitForInputChanges(1, 5s));
    std::uint64_t resets = 0;
    std::size_t changes = 1;
    std::size_t lines = 0;
    for (const std::string& failure : failures)
    {
        SCOPED_TRACE(failure);
        Misbehave("path=/getalarmmotion&times=3&" + failure);
        resets += 3;
        ++changes;
        ++lines;
        ASSERT_TRUE(sink.WaitForInputChanges(changes, 5s));
        EXPECT_EQ(sink.ResetCount(), resets);
        EXPECT_EQ(sink.InputChanges().back(), (hostkit::HostIOSink::InputChange{0, 2}));
        EXPECT_EQ(driver.CountLines(kPollFailed), lines);
    }
}

TEST_F(DigitalIO, StopReturnsPromptlyWhileAPollWaitsForTheCamera)
{
    Style("silent=1");
    ASSERT_TRUE(io->StartIO());
    ASSERT_TRUE(WaitForRequests("/getalarmmotion", 1));
    std::this_thread::sleep_for(200ms);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(io->StopIO());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2500ms);
}
}
}
