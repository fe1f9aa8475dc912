// A run of failures: which of them reach the operator's log, and what the recovery reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channels/failure_run.h"

namespace kestrav
{
namespace
{
// "kind" is a failure; "" ends the run. `expected` is 1/0 for a failure reported or not, and the
// count for an end of run.
struct Step
{
    std::string kind;
    std::uint32_t expected;
};

struct Case
{
    const char* name;
    std::size_t limit;
    std::vector<Step> steps;
};

TEST(FailureRun, ReportsTheFirstFailureOfEachKindPerRunAndCountsEveryOne)
{
    const std::vector<Case> cases = {
        {"a recovery without a run counts nothing", 8, {{"", 0}}},
        {"the same failure again is counted, not reported",
         8,
         {{"timeout", 1}, {"timeout", 0}, {"timeout", 0}, {"", 3}}},
        {"a new kind is reported once more",
         8,
         {{"timeout", 1}, {"status-500", 1}, {"timeout", 0}, {"status-500", 0}, {"", 4}}},
        {"a new run reports again", 8, {{"timeout", 1}, {"", 1}, {"timeout", 1}, {"", 1}, {"", 0}}},
        {"a camera failing a new way each time stops at the limit",
         2,
         {{"a", 1}, {"b", 1}, {"c", 0}, {"a", 0}, {"", 4}}},
    };
    for (const Case& test : cases)
    {
        CFailureRun run(test.limit);
        for (std::size_t i = 0; i < test.steps.size(); ++i)
        {
            const Step& step = test.steps[i];
            if (step.kind.empty())
            {
                EXPECT_EQ(run.Recover(), step.expected) << test.name << ", step " << i;
                EXPECT_FALSE(run.InRun()) << test.name << ", step " << i;
            }
            else
            {
                EXPECT_EQ(run.Fail(step.kind), step.expected == 1) << test.name << ", step " << i;
                EXPECT_TRUE(run.InRun()) << test.name << ", step " << i;
            }
        }
    }
}

TEST(FailureRun, AResetForgetsTheRunWithoutEndingIt)
{
    CFailureRun run;
    EXPECT_TRUE(run.Fail("refused"));
    run.Reset();
    EXPECT_EQ(run.Recover(), 0u);
    EXPECT_TRUE(run.Fail("refused")) << "a stopped channel's next run reports afresh";
}
}
}
