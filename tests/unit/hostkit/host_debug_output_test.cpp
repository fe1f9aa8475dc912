#include "hostkit/host_debug_output.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <brantel/debug_info.h>

namespace kestrav::hostkit
{
namespace
{
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using namespace std::chrono_literals;

constexpr auto kShortWait = 50ms;
constexpr auto kLongWait = 10s;

// The module's record: its text lives only as long as the record.
class TestDebugInfo final : public CDebugInfoIf
{
public:
    TestDebugInfo(std::uint8_t level, const char* text) : level_(level), hasText_(text != nullptr)
    {
        if (text != nullptr)
        {
            text_ = text;
        }
    }
    std::uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return hasText_ ? text_.c_str() : nullptr; }
    void Overwrite(const std::string& text) { text_.assign(text); }

private:
    std::uint8_t level_;
    bool hasText_;
    std::string text_;
};

void Write(HostDebugOutput& output, std::uint8_t level, const char* text)
{
    TestDebugInfo info(level, text);
    output.WriteDebugInfo(&info);
}

class HostDebugOutputTest : public ::testing::Test
{
protected:
    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostDebugOutput output_{misuse_};
};

TEST_F(HostDebugOutputTest, CopiesTheTextDuringTheCall)
{
    TestDebugInfo info(2, "kestrav::CIPCaptureDriver::Open(): firmware 1.2.3");
    output_.WriteDebugInfo(&info);
    info.Overwrite("something else entirely, and longer than the first line was");

    const auto records = output_.Records();
    ASSERT_THAT(records, SizeIs(1));
    EXPECT_EQ(records[0].level, 2);
    EXPECT_EQ(records[0].text, "kestrav::CIPCaptureDriver::Open(): firmware 1.2.3");
}

TEST_F(HostDebugOutputTest, NullTextIsAnEmptyLineAndNullRecordAMisuse)
{
    Write(output_, 3, nullptr);
    output_.WriteDebugInfo(nullptr);
    const auto records = output_.Records();
    ASSERT_THAT(records, SizeIs(1));
    EXPECT_EQ(records[0].level, 3);
    EXPECT_EQ(records[0].text, "");
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("null record")));
}

TEST_F(HostDebugOutputTest, RecordLimitKeepsTheMostRecentButCountsAll)
{
    output_.SetRecordLimit(2);
    Write(output_, 1, "stream one");
    Write(output_, 1, "stream two");
    Write(output_, 1, "stream three");
    const auto records = output_.Records();
    ASSERT_THAT(records, SizeIs(2));
    EXPECT_EQ(records[0].text, "stream two");
    EXPECT_EQ(records[1].text, "stream three");
    EXPECT_EQ(output_.Count(), 3U);
    EXPECT_EQ(output_.CountContaining("stream t"), 2U);

    output_.Clear();
    EXPECT_THAT(output_.Records(), IsEmpty());
    EXPECT_EQ(output_.Count(), 0U);
}

TEST_F(HostDebugOutputTest, EchoSeesEveryLine)
{
    std::vector<std::string> echoed;
    output_.SetEcho([&](const DebugRecord& record) { echoed.push_back(std::to_string(record.level) + record.text); });
    Write(output_, 1, "a");
    Write(output_, 4, "b");
    EXPECT_THAT(echoed, ElementsAre("1a", "4b"));
}

TEST_F(HostDebugOutputTest, WaitForFindsALineWrittenBeforeTheWait)
{
    Write(output_, 2, "RTSP session started");
    const auto found = output_.WaitFor("session started", kShortWait);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->level, 2);
}

TEST_F(HostDebugOutputTest, WaitForTimesOutWithoutAMatch)
{
    Write(output_, 1, "unrelated");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(output_.WaitFor("never written", kShortWait).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShortWait);
}

TEST_F(HostDebugOutputTest, WaitForWakesWhenAnotherThreadWritesTheLine)
{
    std::thread module(
        [this]
        {
            for (int i = 0; i < 20; ++i)
            {
                std::this_thread::sleep_for(1ms);
                Write(output_, 1, ("noise " + std::to_string(i)).c_str());
            }
            Write(output_, 3, "signal lost, device 10.0.0.1");
        });
    const auto found = output_.WaitFor([](const DebugRecord& record) { return record.level == 3; }, kLongWait);
    module.join();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->text, "signal lost, device 10.0.0.1");
}

TEST_F(HostDebugOutputTest, WaitForLooksAtEverythingAgainAfterAClear)
{
    Write(output_, 1, "first");
    Write(output_, 1, "second");
    std::thread module(
        [this]
        {
            std::this_thread::sleep_for(10ms);
            output_.Clear();
            // Fewer lines than before the Clear: the waiter must not skip them by ordinal.
            Write(output_, 1, "wanted");
        });
    const auto found = output_.WaitFor("wanted", kLongWait);
    module.join();
    EXPECT_TRUE(found.has_value());
}

TEST_F(HostDebugOutputTest, ConcurrentWritersLoseNothingAndKeepEachThreadsOrder)
{
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
    {
        writers.emplace_back(
            [this, t]
            {
                for (int i = 0; i < kLinesEach; ++i)
                {
                    Write(output_, static_cast<std::uint8_t>(t), std::to_string(i).c_str());
                }
            });
    }
    for (auto& writer : writers)
    {
        writer.join();
    }
    const auto records = output_.Records();
    ASSERT_THAT(records, SizeIs(kThreads * kLinesEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& record : records)
    {
        EXPECT_EQ(std::stoi(record.text), next[record.level]++);
    }
}
}
}
