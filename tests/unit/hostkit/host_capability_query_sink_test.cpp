#include "hostkit/host_capability_query_sink.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrav::hostkit
{
namespace
{
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;

class HostCapabilityQuerySinkTest : public ::testing::Test
{
protected:
    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostCapabilityQuerySink sink_{misuse_};
};

TEST_F(HostCapabilityQuerySinkTest, FailureFromAnotherThreadIsCopiedAndAwaited)
{
    EXPECT_FALSE(sink_.WaitForOutcome(10ms));
    std::string message = "Failed to get camera properties, login failed (invalid credentials)";
    std::thread query(
        [&]
        {
            sink_.OnQueryFailed(1, message.c_str());
            message.assign(message.size(), 'x');
        });
    const std::optional<QueryOutcome> outcome = sink_.WaitForOutcome(5s);
    query.join();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, QueryOutcome::Kind::Failed);
    EXPECT_EQ(outcome->code, 1);
    EXPECT_THAT(outcome->message, Optional(std::string("Failed to get camera properties, login failed "
                                                       "(invalid credentials)")));
    EXPECT_NE(outcome->callingThread, std::this_thread::get_id());
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostCapabilityQuerySinkTest, HookRunsInsideTheCallbackBeforeWaitersWake)
{
    std::atomic<bool> hookDone{false};
    sink_.SetOutcomeHook(
        [&](const QueryOutcome& outcome)
        {
            EXPECT_EQ(outcome.kind, QueryOutcome::Kind::Completed);
            std::this_thread::sleep_for(50ms);
            hookDone = true;
        });
    std::thread query([&] { sink_.OnQueryCompleted(); });
    ASSERT_TRUE(sink_.WaitForOutcome(5s));
    EXPECT_TRUE(hookDone);
    query.join();
}

TEST_F(HostCapabilityQuerySinkTest, ThreadTerminationIsCountedAndAwaited)
{
    int hooks = 0;
    sink_.SetTerminatedHook([&] { ++hooks; });
    EXPECT_FALSE(sink_.WaitForThreadTerminated(10ms));
    sink_.OnQueryThreadTerminated();
    EXPECT_TRUE(sink_.WaitForThreadTerminated(0ms));
    EXPECT_EQ(sink_.ThreadTerminatedCount(), 1U);
    EXPECT_EQ(hooks, 1);
    EXPECT_FALSE(sink_.WaitForOutcome(0ms));
}

TEST_F(HostCapabilityQuerySinkTest, BreachesOfTheCallbackContractAreReported)
{
    sink_.ReservedSlot1();
    sink_.OnQueryFailed(4, nullptr);
    sink_.OnQueryCompleted();
    sink_.OnQueryThreadTerminated();
    sink_.OnQueryFailed(3, "late");
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("slot 1"), HasSubstr("null message"), HasSubstr("code 4"),
                                                HasSubstr("outcome number 2"), HasSubstr("outcome number 3"),
                                                HasSubstr("after the module reported its query thread killed")));
    EXPECT_EQ(sink_.Outcomes().size(), 3U);
}
}
}
