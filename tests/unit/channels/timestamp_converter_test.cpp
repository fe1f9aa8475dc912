#include <gtest/gtest.h>

#include "channels/timestamp_converter.h"

namespace kestrav
{
namespace
{
// 2026-12-07 in 100 ns units since 1601.
constexpr std::uint64_t kStart = 134410752000000000ULL;
constexpr std::uint64_t kMs = 10000;

class TimeStampConversion : public ::testing::Test
{
protected:
    std::uint64_t clock = kStart;
    CTimeStampConverter converter{[this] { return clock; }};
};

TEST_F(TimeStampConversion, StartsAtTheClockThenStepsElevenPointOneUnitsPerTick)
{
    converter.Update(90000);
    EXPECT_EQ(converter.GetFrameTime(), kStart);
    converter.Update(93000);
    EXPECT_EQ(converter.GetFrameTime(), kStart + 333000) << "3000 ticks are 33.3 ms";
    EXPECT_EQ(converter.GetLastTimestamp(), 93000u);

    ipcapture::SystemTime calendar;
    ASSERT_TRUE(converter.GetFrameTime(&calendar));
    EXPECT_EQ(calendar.wYear, 2026);
    EXPECT_EQ(calendar.wMilliseconds, 33);
}

TEST_F(TimeStampConversion, AJumpOfASecondEarlyOnRestartsAtTheClock)
{
    converter.Update(1000);
    converter.Update(1000 + 90090); // 9999990 units: still a step
    EXPECT_EQ(converter.GetFrameTime(), kStart + 9999990);

    clock += 5 * kMs;
    converter.Update(1000 + 90090 + 90091); // 10000101 units: a restart
    EXPECT_EQ(converter.GetFrameTime(), clock);
    EXPECT_EQ(converter.GetLead(), 0u);
}

TEST_F(TimeStampConversion, ARepeatedTimestampStillMovesOnByAMillisecond)
{
    converter.Update(5000);
    converter.Update(5000);
    EXPECT_EQ(converter.GetFrameTime(), kStart + kMs);
    EXPECT_EQ(converter.GetLead(), kMs) << "an exact step records the lead";
    converter.Update(4000); // earlier: the same rule
    EXPECT_EQ(converter.GetFrameTime(), kStart + 2 * kMs);
}

TEST_F(TimeStampConversion, AFrameTimeBehindTheClockIsPulledUpToIt)
{
    converter.Update(1000);
    converter.Update(4000);
    clock += 10000 * kMs; // the camera stalled for ten seconds
    converter.Update(7000);
    EXPECT_EQ(converter.GetFrameTime(), clock);
}

TEST_F(TimeStampConversion, FollowsTheMeasuredRateAfterAHundredFrames)
{
    // A camera whose clock runs 1 % fast: 3000 ticks every 33.0 ms of local time.
    std::uint32_t timestamp = 1;
    converter.Update(timestamp);
    std::uint64_t previous = converter.GetFrameTime();
    for (int frame = 0; frame < 400; ++frame)
    {
        clock += 330000;
        timestamp += 3000;
        converter.Update(timestamp);
        ASSERT_GT(converter.GetFrameTime(), previous) << "frame times never go back";
        previous = converter.GetFrameTime();
    }
    // Paced nominally at 33.3 ms the frame times would now be 1.2 s ahead of the clock; the
    // measured pace and the corrections keep them close.
    const std::uint64_t ahead = converter.GetFrameTime() - clock;
    EXPECT_LT(ahead, 150 * kMs);
}

TEST_F(TimeStampConversion, WorksOffALeadInBoundedSteps)
{
    std::uint32_t timestamp = 1;
    converter.Update(timestamp);
    for (int frame = 0; frame < 100; ++frame)
    {
        clock += 333000;
        timestamp += 3000;
        converter.Update(timestamp);
    }
    // The local clock stands still for half a second while frames keep coming: a lead builds.
    for (int frame = 0; frame < 15; ++frame)
    {
        timestamp += 3000;
        converter.Update(timestamp);
        clock += 1000;
    }
    const std::uint64_t lead = converter.GetLead();
    ASSERT_GT(lead, 250 * kMs);
    std::uint64_t previous = converter.GetFrameTime();
    for (int frame = 0; frame < 200 && converter.GetLead() > 10 * kMs; ++frame)
    {
        clock += 333000;
        timestamp += 3000;
        converter.Update(timestamp);
        const std::uint64_t step = converter.GetFrameTime() - previous;
        EXPECT_GE(step, 200000u) << "a correction takes at most a tenth of a frame's step (and at least 1 ms)";
        previous = converter.GetFrameTime();
    }
    EXPECT_LT(converter.GetLead(), lead);
}

TEST(StatisticsHelper, KeepsTheLastThousandValues)
{
    TStatisticsHelper<unsigned int> window;
    EXPECT_EQ(window.Mean(), 0.0);
    for (unsigned int i = 0; i < 1000; ++i)
        window.Add(1);
    EXPECT_EQ(window.Mean(), 1.0);
    for (unsigned int i = 0; i < 1000; ++i)
        window.Add(3);
    EXPECT_EQ(window.Count(), 1000u);
    EXPECT_EQ(window.Mean(), 3.0) << "the old values have left the window";
}
}
}
