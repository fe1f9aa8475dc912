#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/event.h"

namespace kestrav::platform
{
namespace
{
struct EventCloser
{
    void operator()(EventObject* event) const { CloseEventObject(event); }
};
using EventPtr = std::unique_ptr<EventObject, EventCloser>;

EventPtr MakeEvent(bool manualReset, bool signaled = false)
{
    return EventPtr(CreateEventObject(manualReset, signaled));
}

TEST(PlatformEvent, ManualResetStaysSignalledUntilReset)
{
    EventPtr event = MakeEvent(true);
    EXPECT_EQ(WaitForEventObject(event.get(), 0), WaitResult::TimedOut);
    ASSERT_TRUE(SetEventObject(event.get()));
    EXPECT_EQ(WaitForEventObject(event.get(), 0), WaitResult::Signaled);
    EXPECT_EQ(WaitForEventObject(event.get(), 0), WaitResult::Signaled);
    ASSERT_TRUE(ResetEventObject(event.get()));
    EXPECT_EQ(WaitForEventObject(event.get(), 10), WaitResult::TimedOut);
}

TEST(PlatformEvent, AutoResetReleasesOneWaitOnly)
{
    EventPtr event = MakeEvent(false, true);
    EXPECT_EQ(WaitForEventObject(event.get(), 0), WaitResult::Signaled);
    EXPECT_EQ(WaitForEventObject(event.get(), 0), WaitResult::TimedOut);
}

TEST(PlatformEvent, AutoResetSetOnceWakesExactlyOneOfTwoWaiters)
{
    EventPtr event = MakeEvent(false);
    std::atomic<int> woken{0};
    auto waiter = [&]
    {
        if (WaitForEventObject(event.get(), 1500) == WaitResult::Signaled)
            ++woken;
    };
    std::thread first(waiter);
    std::thread second(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SetEventObject(event.get());
    first.join();
    second.join();
    EXPECT_EQ(woken.load(), 1);
}

TEST(PlatformEvent, SetFromAnotherThreadWakesAnInfiniteWait)
{
    EventPtr event = MakeEvent(true);
    std::thread setter(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            SetEventObject(event.get());
        });
    EXPECT_EQ(WaitForEventObject(event.get(), kInfinite), WaitResult::Signaled);
    setter.join();
}

TEST(PlatformEvent, TimedWaitLastsAtLeastItsTimeOut)
{
    EventPtr event = MakeEvent(true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForEventObject(event.get(), 120), WaitResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
}

TEST(PlatformEvent, WaitForAnyGivesTheFirstSignalledInListOrder)
{
    EventPtr a = MakeEvent(true);
    EventPtr b = MakeEvent(false);
    EventPtr c = MakeEvent(true);
    EventHandle list[] = {a.get(), b.get(), c.get()};
    EXPECT_EQ(WaitForAnyEventObject(list, 3, 0), -1);

    SetEventObject(c.get());
    SetEventObject(b.get());
    EXPECT_EQ(WaitForAnyEventObject(list, 3, 0), 1); // b, auto-reset by this wait
    EXPECT_EQ(WaitForAnyEventObject(list, 3, 0), 2); // then c, manual, stays set
    EXPECT_EQ(WaitForAnyEventObject(list, 3, 0), 2);
}

TEST(PlatformEvent, WaitForAnyWakesOnALaterEvent)
{
    EventPtr a = MakeEvent(true);
    EventPtr b = MakeEvent(false);
    EventHandle list[] = {a.get(), b.get()};
    std::thread setter(
        [&]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            SetEventObject(b.get());
        });
    EXPECT_EQ(WaitForAnyEventObject(list, 2, 5000), 1);
    setter.join();
}

TEST(PlatformEvent, InvalidArgumentsFail)
{
    EventPtr a = MakeEvent(true, true);
    EventHandle withNull[] = {a.get(), nullptr};
    EXPECT_EQ(WaitForAnyEventObject(nullptr, 1, 0), -1);
    EXPECT_EQ(WaitForAnyEventObject(withNull, 0, 0), -1);
    EXPECT_EQ(WaitForAnyEventObject(withNull, 2, 0), -1);
    EXPECT_FALSE(SetEventObject(nullptr));
    EXPECT_FALSE(ResetEventObject(nullptr));
    EXPECT_EQ(WaitForEventObject(nullptr, 0), WaitResult::Failed);
}
}
}
