#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "platform/process.h"
#include "runtime/base_thread.h"
#include "runtime/format_string.h"
#include "support/recording_owner.h"

namespace kestrav
{
namespace
{
using testing::RecordingOwner;

// A thread whose body the test chooses.
class ScriptedThread : public CBaseThread
{
public:
    explicit ScriptedThread(IDebugMessage* owner) : CBaseThread(owner) {}
    ~ScriptedThread() override { StopThread(2000); }

    std::function<void(ScriptedThread&)> body;
    CManualEvent entered;

    using CBaseThread::StopEvent;

protected:
    void ThreadFunction() override
    {
        entered.Set();
        if (body)
            body(*this);
    }
};

class BaseThread : public ::testing::Test
{
protected:
    RecordingOwner owner;
    CManualEvent never;
};

TEST_F(BaseThread, StartsOnceWhileRunningAndAgainAfterAJoin)
{
    ScriptedThread thread(&owner);
    thread.body = [](ScriptedThread& self) { self.StopEvent().Wait(platform::kInfinite); };
    ASSERT_TRUE(thread.StartThread("worker"));
    ASSERT_TRUE(thread.entered.Wait(5000));
    EXPECT_FALSE(thread.StartThread("second")) << "the first thread still runs";
    EXPECT_EQ(thread.GetThreadName(), "worker");

    EXPECT_TRUE(thread.JoinThread(5000));
    thread.entered.Reset();
    EXPECT_TRUE(thread.StartThread("again")) << "the stop event is reset at every start";
    EXPECT_TRUE(thread.entered.Wait(5000));
    EXPECT_TRUE(thread.JoinThread(5000));
    EXPECT_TRUE(owner.Lines().empty()) << "a polite stop logs nothing";
}

TEST_F(BaseThread, StoppingANeverStartedThreadSucceedsSilently)
{
    ScriptedThread thread(&owner);
    EXPECT_TRUE(thread.JoinThread(100));
    EXPECT_TRUE(thread.StopThread(100));
    EXPECT_TRUE(owner.Lines().empty());
}

TEST_F(BaseThread, StopTerminatesABodyThatIgnoresItsStopEvent)
{
    ScriptedThread thread(&owner);
    std::atomic<bool> returned{false};
    thread.body = [&](ScriptedThread&)
    {
        never.Wait(platform::kInfinite);
        returned = true;
    };
    ASSERT_TRUE(thread.StartThread("stubborn"));
    ASSERT_TRUE(thread.entered.Wait(5000));

    EXPECT_TRUE(thread.StopThread(100));
    EXPECT_FALSE(returned);
    const auto lines = owner.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_EQ(lines[0].text,
              FormatString("kestrav::CBaseThread::StopThread: Thread (id=%u, name=\"stubborn\") for device "
                           "192.0.2.7:80 was not stopped during 100 milliseconds and will be terminated!",
                           thread.GetThreadId()));

    // The object is usable again.
    thread.body = nullptr;
    thread.entered.Reset();
    EXPECT_TRUE(thread.StartThread("after"));
    EXPECT_TRUE(thread.JoinThread(5000));
}

TEST_F(BaseThread, JoinWarnsThenWaitsForASlowBody)
{
    ScriptedThread thread(&owner);
    CManualEvent release;
    std::atomic<bool> returned{false};
    thread.body = [&](ScriptedThread&)
    {
        release.Wait(platform::kInfinite);
        returned = true;
    };
    ASSERT_TRUE(thread.StartThread("slow"));
    ASSERT_TRUE(thread.entered.Wait(5000));

    std::thread releaser(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            release.Set();
        });
    EXPECT_TRUE(thread.JoinThread(50));
    releaser.join();
    EXPECT_TRUE(returned) << "a join never terminates";

    const auto lines = owner.Lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::uint32_t id = thread.GetThreadId();
    EXPECT_EQ(lines[0].level, kLogWarning);
    EXPECT_EQ(lines[0].text, FormatString("kestrav::CBaseThread::JoinThread: Thread (id=%u, name=\"slow\") for device "
                                          "192.0.2.7:80 was not stopped during 50 milliseconds",
                                          id));
    EXPECT_EQ(lines[1].level, kLogInformation);
    EXPECT_EQ(
        lines[1].text,
        FormatString("kestrav::CBaseThread::JoinThread: Thread (id=%u, name=\"slow\") was stopped correctly", id));
}

TEST_F(BaseThread, AStopFromInsideTheBodyDoesNotWaitForItself)
{
    ScriptedThread thread(&owner);
    std::atomic<int> stopResult{-1};
    std::atomic<int> joinResult{-1};
    thread.body = [&](ScriptedThread& self)
    {
        stopResult = self.StopThread(100) ? 1 : 0;
        joinResult = self.JoinThread(100) ? 1 : 0;
    };
    ASSERT_TRUE(thread.StartThread("self"));
    ASSERT_TRUE(thread.JoinThread(5000));
    EXPECT_EQ(stopResult, 0);
    EXPECT_EQ(joinResult, 0);
    EXPECT_TRUE(owner.Lines().empty());
}

TEST_F(BaseThread, AnExceptionLeavingTheBodyIsLoggedNotFatal)
{
    ScriptedThread thread(&owner);
    thread.body = [](ScriptedThread&) { throw std::runtime_error("camera said no"); };
    ASSERT_TRUE(thread.StartThread("thrower"));
    ASSERT_TRUE(thread.JoinThread(5000));
    const auto lines = owner.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kLogError);
    EXPECT_NE(lines[0].text.find("kestrav::CBaseThread::ThreadFunction(): Unexpected exception"), std::string::npos);
}

TEST_F(BaseThread, DestructionStopsARunningThread)
{
    std::atomic<bool> sawStop{false};
    {
        ScriptedThread thread(&owner);
        thread.body = [&](ScriptedThread& self) { sawStop = self.StopEvent().Wait(platform::kInfinite); };
        ASSERT_TRUE(thread.StartThread("scoped"));
        ASSERT_TRUE(thread.entered.Wait(5000));
    }
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(owner.Lines().empty());
}
}
}
