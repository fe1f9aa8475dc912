#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "runtime/tick_thread.h"
#include "support/recording_owner.h"

namespace kestrav
{
namespace
{
using Clock = std::chrono::steady_clock;

class CountingTicker : public CTickThread
{
public:
    explicit CountingTicker(IDebugMessage* owner) : CTickThread(owner) {}
    ~CountingTicker() override { StopTicking(); }

    std::vector<Clock::time_point> Ticks()
    {
        std::lock_guard lock(m_mutex);
        return m_ticks;
    }
    bool WaitForTicks(std::size_t count)
    {
        for (int i = 0; i < 1000; ++i)
        {
            if (Ticks().size() >= count)
                return true;
            ticked.Wait(10);
        }
        return false;
    }

    CEvent ticked{false};

protected:
    void OnTick() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_ticks.push_back(Clock::now());
        }
        ticked.Set();
    }

private:
    std::mutex m_mutex;
    std::vector<Clock::time_point> m_ticks;
};

TEST(TickThread, StartTickingTicksAtOnceThenEveryPeriod)
{
    testing::RecordingOwner owner;
    CountingTicker ticker(&owner);
    ticker.SetPeriod(60000);
    ASSERT_TRUE(ticker.StartTicking("ticker"));
    // The period is a minute: a tick within the test's time can only be the immediate one.
    ASSERT_TRUE(ticker.WaitForTicks(1));
    EXPECT_TRUE(ticker.StopTicking());
    EXPECT_EQ(ticker.Ticks().size(), 1u);
}

TEST(TickThread, APlainStartWaitsOnePeriodBeforeEachTick)
{
    testing::RecordingOwner owner;
    CountingTicker ticker(&owner);
    ticker.SetPeriod(80);
    const auto start = Clock::now();
    ASSERT_TRUE(ticker.StartThread("ticker"));
    ASSERT_TRUE(ticker.WaitForTicks(3));
    ticker.StopTicking();
    const auto ticks = ticker.Ticks();
    EXPECT_GE(ticks[0] - start, std::chrono::milliseconds(80));
    EXPECT_GE(ticks[1] - ticks[0], std::chrono::milliseconds(75));
    EXPECT_GE(ticks[2] - ticks[1], std::chrono::milliseconds(75));
}

TEST(TickThread, StopEndsTheThreadPromptlyWithoutAnotherTick)
{
    testing::RecordingOwner owner;
    CountingTicker ticker(&owner);
    ticker.SetPeriod(60000);
    ASSERT_TRUE(ticker.StartThread("ticker"));
    EXPECT_TRUE(ticker.StopTicking());
    EXPECT_TRUE(ticker.Ticks().empty());
    EXPECT_TRUE(owner.Lines().empty()) << "the stop did not have to wait or terminate";
}
}
}
