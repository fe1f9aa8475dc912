#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "runtime/recursive_lock.h"
#include "runtime/time_value.h"

namespace kestrav
{
namespace
{
bool TryFromAnotherThread(CRecursiveLock& lock)
{
    bool taken = false;
    std::thread other(
        [&]
        {
            taken = lock.TryLock();
            if (taken)
                lock.Unlock();
        });
    other.join();
    return taken;
}

TEST(RecursiveLock, NeedsOneUnlockPerLockBeforeAnotherThreadGetsIt)
{
    CRecursiveLock lock;
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock()) << "the owner always gets it again";
    lock.Unlock();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Unlock();
    EXPECT_FALSE(TryFromAnotherThread(lock));
    lock.Unlock();
    EXPECT_TRUE(TryFromAnotherThread(lock));
}

TEST(RecursiveLock, ExcludesConcurrentWriters)
{
    CRecursiveLock lock;
    long counter = 0;
    auto work = [&]
    {
        for (int i = 0; i < 100000; ++i)
        {
            CRecursiveLockGuard outer(lock);
            CRecursiveLockGuard inner(lock);
            ++counter;
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(counter, 300000);
}

TEST(Time, ElapsedIsZeroForAFutureValueAndGrowsOtherwise)
{
    EXPECT_EQ(CTime::ElapsedSince(CTime::Now() + 10000000ULL * 60), 0u);
    EXPECT_GE(CTime::ElapsedSince(CTime::Now() - 10000ULL * 1500), 1500u);

    CTime time;
    const std::uint64_t first = time.Get();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(time.ElapsedMilliseconds(), 20u);
    time.Update();
    EXPECT_GT(time.Get(), first);
    EXPECT_LT(time.ElapsedMilliseconds(), 1000u);
}

TEST(Time, ConvertsToCalendarFields)
{
    ipcapture::SystemTime calendar;
    ASSERT_TRUE(CTime::ToCalendar(CTime::Now(), &calendar));
    EXPECT_GE(calendar.wYear, 2024);
    EXPECT_FALSE(CTime::ToCalendar(~0ULL, &calendar));
}
}
}
