#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "platform/clock.h"

namespace kestrav::platform
{
namespace
{
constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;

ipcapture::SystemTime Calendar(std::uint64_t fileTime)
{
    ipcapture::SystemTime calendar;
    EXPECT_TRUE(FileTimeToSystemTime(fileTime, &calendar));
    return calendar;
}

TEST(FileTime, KnownDates)
{
    const auto origin = Calendar(0);
    EXPECT_EQ(origin.wYear, 1601);
    EXPECT_EQ(origin.wMonth, 1);
    EXPECT_EQ(origin.wDay, 1);
    EXPECT_EQ(origin.wDayOfWeek, 1); // Monday

    const auto epoch = Calendar(kUnixEpoch);
    EXPECT_EQ(epoch.wYear, 1970);
    EXPECT_EQ(epoch.wMonth, 1);
    EXPECT_EQ(epoch.wDay, 1);
    EXPECT_EQ(epoch.wDayOfWeek, 4); // Thursday

    // 2024-02-29 13:45:07.891 UTC, a Thursday: 1709214307 s after the Unix epoch.
    const auto leap = Calendar(kUnixEpoch + 1709214307ULL * 10000000ULL + 8919999ULL);
    EXPECT_EQ(leap.wYear, 2024);
    EXPECT_EQ(leap.wMonth, 2);
    EXPECT_EQ(leap.wDay, 29);
    EXPECT_EQ(leap.wHour, 13);
    EXPECT_EQ(leap.wMinute, 45);
    EXPECT_EQ(leap.wSecond, 7);
    EXPECT_EQ(leap.wMilliseconds, 891);
    EXPECT_EQ(leap.wDayOfWeek, 4);
}

TEST(FileTime, ValuesWindowsRefusesAreRefused)
{
    ipcapture::SystemTime calendar;
    EXPECT_FALSE(FileTimeToSystemTime(0x8000000000000000ULL, &calendar));
    EXPECT_FALSE(FileTimeToSystemTime(0, nullptr));

    std::uint64_t fileTime = 0;
    ipcapture::SystemTime february30{2023, 2, 0, 30, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(february30, &fileTime));
    ipcapture::SystemTime before1601{1600, 12, 0, 31, 23, 59, 59, 999};
    EXPECT_FALSE(SystemTimeToFileTime(before1601, &fileTime));
}

TEST(FileTime, CalendarRoundTripKeepsMilliseconds)
{
    std::mt19937_64 random(42);
    std::uniform_int_distribution<std::uint64_t> anyTime(0, 0x7FFFFFFFFFFFFFFFULL / 2);
    for (int i = 0; i < 2000; ++i)
    {
        const std::uint64_t milliseconds = anyTime(random) / 10000;
        ipcapture::SystemTime calendar;
        ASSERT_TRUE(FileTimeToSystemTime(milliseconds * 10000, &calendar));
        std::uint64_t back = 0;
        ASSERT_TRUE(SystemTimeToFileTime(calendar, &back));
        ASSERT_EQ(back, milliseconds * 10000);
    }
}

TEST(FileTime, NowFollowsTheSystemClock)
{
    const auto system =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    const std::uint64_t now = FileTimeNow();
    const auto nowMilliseconds = static_cast<std::int64_t>((now - kUnixEpoch) / 10000);
    EXPECT_LT(std::llabs(nowMilliseconds - system), 2000);
}

TEST(MonotonicClock, NeverGoesBack)
{
    std::uint64_t previous = MonotonicMilliseconds();
    for (int i = 0; i < 1000; ++i)
    {
        const std::uint64_t now = MonotonicMilliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}
}
}
