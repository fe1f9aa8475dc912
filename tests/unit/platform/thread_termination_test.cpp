// A module thread that ignores its stop request is unwound from inside the platform's
// blocking waits, and never from inside anything else.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/event.h"
#include "platform/thread.h"
#include "platform/thread_termination.h"

namespace kestrav::platform
{
namespace
{
struct Body
{
    std::function<void()> run;
    std::atomic<bool> destructorRan{false};
    std::atomic<bool> swallowed{false};
    std::atomic<bool> returnedNormally{false};
};

// Sets a flag when unwound, to show that destructors run on termination.
struct UnwindWitness
{
    std::atomic<bool>* flag;
    ~UnwindWitness() { *flag = true; }
};

void RunBody(void* argument)
{
    auto* body = static_cast<Body*>(argument);
    UnwindWitness witness{&body->destructorRan};
    try
    {
        body->run();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        body->swallowed = true;
    }
    body->returnedNormally = true;
}

class ThreadTermination : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_never = CreateEventObject(true, false);
        m_entered = CreateEventObject(true, false);
    }
    void TearDown() override
    {
        CloseEventObject(m_never);
        CloseEventObject(m_entered);
    }

    // Starts the body, waits until it is blocked, terminates it, and checks it unwound.
    void ExpectTerminatedWhileBlocked(std::function<void()> blockingCall)
    {
        Body body;
        body.run = [&]
        {
            SetEventObject(m_entered);
            blockingCall();
        };
        ThreadHandle thread = CreateModuleThread(RunBody, &body, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(WaitForEventObject(m_entered, 5000), WaitResult::Signaled);
        std::this_thread::sleep_for(std::chrono::milliseconds(30)); // let it block

        EXPECT_TRUE(TerminateModuleThread(thread, 5000));
        EXPECT_FALSE(IsThreadRunning(thread));
        CloseThreadHandle(thread);
        EXPECT_TRUE(body.destructorRan);
        EXPECT_FALSE(body.swallowed) << "the catch-all must let the termination pass";
        EXPECT_FALSE(body.returnedNormally);
    }

    EventHandle m_never = nullptr;
    EventHandle m_entered = nullptr;
};

TEST_F(ThreadTermination, UnwindsFromAnEventWait)
{
    ExpectTerminatedWhileBlocked([this] { WaitForEventObject(m_never, kInfinite); });
}

TEST_F(ThreadTermination, UnwindsFromAWaitForAny)
{
    EventHandle other = CreateEventObject(false, false);
    EventHandle list[] = {m_never, other};
    ExpectTerminatedWhileBlocked([&] { WaitForAnyEventObject(list, 2, kInfinite); });
    CloseEventObject(other);
}

TEST_F(ThreadTermination, UnwindsFromASleep)
{
    ExpectTerminatedWhileBlocked([] { SleepMilliseconds(600000); });
}

TEST_F(ThreadTermination, UnwindsFromTimedWaitsInALoop)
{
    ExpectTerminatedWhileBlocked(
        [this]
        {
            for (;;)
                WaitForEventObject(m_never, 10);
        });
}

TEST_F(ThreadTermination, NeverCutsALibraryCallShort)
{
    // A library call in progress (here the C library's sleep) is never cut short: the body
    // finishes it and is unwound at its next platform wait.
    std::atomic<bool> libraryCallFinished{false};
    ExpectTerminatedWhileBlocked(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            libraryCallFinished = true;
            WaitForEventObject(m_never, kInfinite);
        });
    EXPECT_TRUE(libraryCallFinished);
}

TEST_F(ThreadTermination, WaitsInsideANoTerminationScopeAreSpared)
{
    EventHandle release = CreateEventObject(true, false);
    Body body;
    body.run = [&]
    {
        NoTerminationScope scope;
        SetEventObject(m_entered);
        WaitForEventObject(release, kInfinite);
    };
    ThreadHandle thread = CreateModuleThread(RunBody, &body, nullptr);
    ASSERT_EQ(WaitForEventObject(m_entered, 5000), WaitResult::Signaled);

    EXPECT_FALSE(TerminateModuleThread(thread, 100));
    EXPECT_TRUE(IsThreadRunning(thread));
    SetEventObject(release);
    EXPECT_EQ(WaitForThreadEnd(thread, 5000), WaitResult::Signaled);
    CloseThreadHandle(thread);
    EXPECT_TRUE(body.returnedNormally);
    CloseEventObject(release);
}

TEST(ModuleThread, ReportsItsIdAndEnds)
{
    struct Probe
    {
        std::uint32_t seenId = 0;
        ThreadHandle handle = nullptr;
        EventHandle go = CreateEventObject(true, false);
        bool sawItselfCurrent = false;
    } probe;
    auto body = [](void* argument)
    {
        auto* p = static_cast<Probe*>(argument);
        p->seenId = CurrentThreadId();
        WaitForEventObject(p->go, 5000);
        p->sawItselfCurrent = IsCurrentThread(p->handle);
    };
    std::uint32_t id = 0;
    probe.handle = CreateModuleThread(body, &probe, &id);
    ASSERT_NE(probe.handle, nullptr);
    EXPECT_FALSE(IsCurrentThread(probe.handle));
    EXPECT_EQ(WaitForThreadEnd(probe.handle, 20), WaitResult::TimedOut);
    SetEventObject(probe.go);
    EXPECT_EQ(WaitForThreadEnd(probe.handle, 5000), WaitResult::Signaled);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(probe.seenId, id);
    EXPECT_NE(id, CurrentThreadId());
    EXPECT_TRUE(probe.sawItselfCurrent);
    CloseThreadHandle(probe.handle);
    CloseEventObject(probe.go);
}

TEST(ModuleThread, TerminatingAnEndedThreadSucceeds)
{
    ThreadHandle thread = CreateModuleThread([](void*) {}, nullptr, nullptr);
    ASSERT_EQ(WaitForThreadEnd(thread, 5000), WaitResult::Signaled);
    EXPECT_TRUE(TerminateModuleThread(thread, 0));
    CloseThreadHandle(thread);
}
}
}
