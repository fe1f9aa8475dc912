#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

    clock += 1005 * kMs;
    converter.Update(1000 + 90090 + 90091); // 10000101 units: a restart
    EXPECT_EQ(converter.GetFrameTime(), clock);
    EXPECT_EQ(converter.GetLead(), 0u);
}

TEST_F(TimeStampConversion, ARestartNeverGoesBackBehindTheLastFrameTime)
{
    converter.Update(1000);
    converter.Update(1000 + 90090); // a second ahead of the clock
    clock += 5 * kMs;
    converter.Update(1000 + 90090 + 90091);
    EXPECT_EQ(converter.GetFrameTime(), kStart + 9999990 + kMs);

    converter.Reset(); // a reopened stream, too
    converter.Update(77);
    EXPECT_EQ(converter.GetFrameTime(), kStart + 9999990 + 2 * kMs);
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

// Whatever the timestamps do, frame times rise by at least a millisecond per frame, stay between
// the clock and a second ahead of it, and afterwards follow the clock again (neither frozen nor
// racing ahead).
struct TimestampCase
{
    const char* name;
    // Local time between two frames, while the camera stamps 3000 ticks (33.3 ms) per frame.
    std::uint64_t clockStep;
    std::uint32_t firstTimestamp;
    // What the camera's timestamp of frame n is off by.
    std::function<std::uint32_t(int)> offset;
};

void PrintTo(const TimestampCase& run, std::ostream* out)
{
    *out << run.name;
}

class WildTimestamps : public TimeStampConversion, public ::testing::WithParamInterface<TimestampCase>
{
};

TEST_P(WildTimestamps, KeepFrameTimesMonotonicAndNearTheClock)
{
    constexpr int kFrames = 600;
    const TimestampCase& run = GetParam();
    std::uint64_t previous = 0;
    std::vector<std::uint64_t> times;
    for (int frame = 0; frame < kFrames; ++frame)
    {
        clock += run.clockStep;
        converter.Update(run.firstTimestamp + 3000u * static_cast<std::uint32_t>(frame) + run.offset(frame));
        const std::uint64_t time = converter.GetFrameTime();
        ASSERT_GE(time, previous + kMs) << "frame " << frame;
        ASSERT_GE(time, clock) << "frame " << frame;
        ASSERT_LE(time, clock + 1000 * kMs) << "frame " << frame;
        previous = time;
        times.push_back(time);
    }
    const double lastSteps = static_cast<double>(times.back() - times[kFrames - 101]) / 100.0;
    EXPECT_NEAR(lastSteps, static_cast<double>(run.clockStep), 0.05 * static_cast<double>(run.clockStep));
}

constexpr std::uint64_t kFrameStep = 333333;
constexpr std::uint32_t kTenMinutes = 54000000;

INSTANTIATE_TEST_SUITE_P(
    Jumps, WildTimestamps,
    ::testing::Values(
        TimestampCase{"ForwardJump", kFrameStep, 1, [](int n) { return n >= 150 ? kTenMinutes : 0u; }},
        TimestampCase{"BackwardJump", kFrameStep, 1, [](int n) { return n >= 150 ? 0u - kTenMinutes : 0u; }},
        TimestampCase{"JumpWhilePacedNominally", kFrameStep, 1, [](int n) { return n >= 50 ? kTenMinutes : 0u; }},
        TimestampCase{"SingleWildPacket", kFrameStep, 1, [](int n) { return n == 150 ? 0x40000000u : 0u; }},
        TimestampCase{"SingleWildPacketBack", kFrameStep, 0x80000000u,
                      [](int n) { return n == 150 ? 0xC0000000u : 0u; }},
        TimestampCase{"SingleWildPacketWhilePacedNominally", kFrameStep, 1,
                      [](int n) { return n == 50 ? 0x7FFFFFFFu : 0u; }},
        TimestampCase{"TimestampWrapsAround", kFrameStep, 0xFFFF0000u, [](int) { return 0u; }},
        TimestampCase{"CameraClockFivePercentFast", kFrameStep * 100 / 105, 1, [](int) { return 0u; }},
        TimestampCase{"CameraClockFivePercentSlow", kFrameStep * 105 / 100, 1, [](int) { return 0u; }}),
    [](const ::testing::TestParamInfo<TimestampCase>& info) { return std::string(info.param.name); });

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
