#include <gtest/gtest.h>

#include <sstream>

#include "tools/host/console.h"
#include "tools/host/process_usage.h"
#include "tools/host/status_line.h"
#include "tools/host/stream_stats.h"
#include "tools/host/summary.h"
#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
using namespace std::chrono_literals;

const SteadyTime kStart = SteadyTime() + 1h;

ipcapture::SystemTime Utc(std::uint16_t hour, std::uint16_t minute, std::uint16_t second, std::uint16_t millisecond)
{
    ipcapture::SystemTime time;
    time.wYear = 2024;
    time.wMonth = 5;
    time.wDay = 1;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = millisecond;
    return time;
}

FrameFacts Facts(std::uint64_t bytes, SteadyTime arrival, bool keyFrame = false)
{
    FrameFacts facts;
    facts.bytes = bytes;
    facts.arrival = arrival;
    facts.keyFrame = keyFrame;
    facts.width = 1280;
    facts.height = 720;
    return facts;
}

TEST(HostBenchAverageRates, CountTheIntervalsBetweenFramesNotTheFrames)
{
    StreamStats stats;
    EXPECT_FALSE(AverageRates(stats.Snapshot()));
    stats.OnFrame(Facts(50000, kStart));
    EXPECT_FALSE(AverageRates(stats.Snapshot())) << "one frame spans no time";
    // 26 frames 40 ms apart span exactly one second: 25 frames per second.
    for (int i = 1; i <= 25; ++i)
        stats.OnFrame(Facts(1250, kStart + i * 40ms));
    const std::optional<Rates> rates = AverageRates(stats.Snapshot());
    ASSERT_TRUE(rates);
    EXPECT_DOUBLE_EQ(rates->framesPerSecond, 25.0);
    // The first frame's bytes arrived before the span: 25 x 1250 bytes in one second.
    EXPECT_DOUBLE_EQ(rates->kilobitsPerSecond, 250.0);
}

// Frames given as capture milliseconds, a 'k' before a number marking a key frame.
struct LossCase
{
    const char* name;
    double frameRate;
    std::vector<const char*> frames;
    std::uint64_t lostFrames;
    std::uint64_t captureGaps;
    std::uint64_t missingFrames;
    std::uint64_t shortGroups;
    std::uint64_t shortGroupFrames;
};

TEST(HostBenchLossCount, ShortKeyFrameGroupsAndGapsOfWholeGroupsAreLossesSmallerGapsLateFrames)
{
    const LossCase cases[] = {
        {"steady 25 fps", 25, {"k0", "40", "80", "k120", "160", "200", "k240"}, 0, 0, 0, 0, 0},
        {"late by less than half an interval", 25, {"k0", "40", "99", "120"}, 0, 0, 0, 0, 0},
        {"without key frames every gap is a loss", 25, {"0", "40", "160", "200"}, 2, 1, 2, 0, 0},
        {"an H.264 gap shorter than a group is a late frame",
         25,
         {"k0", "40", "k80", "120", "200", "k240"},
         0,
         1,
         1,
         0,
         0},
        {"lost up to the next key frame", 25, {"k0", "40", "80", "k120", "k240", "280", "320", "k360"}, 2, 1, 2, 1, 2},
        {"a whole group lost", 25, {"k0", "40", "k80", "120", "k240", "280", "k320"}, 2, 1, 2, 0, 0},
        {"a group longer than the first is no loss", 25, {"k0", "40", "k80", "120", "160", "k200"}, 0, 0, 0, 0, 0},
        {"frames before the first key frame", 25, {"0", "40", "k80", "120", "k160"}, 0, 0, 0, 0, 0},
        {"no rate, no gaps", 0, {"0", "1000", "2000"}, 0, 0, 0, 0, 0},
    };
    for (const LossCase& test : cases)
    {
        SCOPED_TRACE(test.name);
        StreamStats stats(test.frameRate);
        for (const std::string frame : test.frames)
        {
            const bool key = frame.front() == 'k';
            const int ms = std::stoi(key ? frame.substr(1) : frame);
            FrameFacts facts = Facts(1000, kStart + std::chrono::milliseconds(ms), key);
            facts.captureTime =
                Utc(12, 0, static_cast<std::uint16_t>(ms / 1000), static_cast<std::uint16_t>(ms % 1000));
            stats.OnFrame(facts);
        }
        const StreamCounters counters = stats.Snapshot();
        EXPECT_EQ(counters.lostFrames, test.lostFrames);
        EXPECT_EQ(counters.captureGaps, test.captureGaps);
        EXPECT_EQ(counters.missingFrames, test.missingFrames);
        EXPECT_EQ(counters.shortGroups, test.shortGroups);
        EXPECT_EQ(counters.shortGroupFrames, test.shortGroupFrames);
    }
}

TEST(HostBenchProcessUsage, ReadsThreadsAndMemoryAndPricesTheFrames)
{
    ProcessUsage usage;
    usage.userSeconds = 1.5;
    usage.systemSeconds = 0.5;
    ReadProcessStatus("Name:\tbrantel-host\nVmHWM:\t   20480 kB\nVmRSS:\t   10240 kB\nThreads:\t9\nVmSwap:\tx\n",
                      usage);
    EXPECT_EQ(FormatProcessUsage(usage, 4000), "process: CPU 2.000 s (user 1.500 s, system 0.500 s), 0.500 CPU-s per "
                                               "1000 frames, 9 threads, VmRSS 10240 kB, VmHWM 20480 kB");

    ProcessUsage bare;
    ReadProcessStatus("Threads:\tmany\nVmRSS:", bare);
    EXPECT_EQ(FormatProcessUsage(bare, 0), "process: CPU 0.000 s (user 0.000 s, system 0.000 s)")
        << "fields that are missing or no number are left out, and no frames give no price";
}

TEST(HostBenchRateMeter, MeasuresEachRefreshSinceThePreviousOne)
{
    RateMeter meter(kStart);
    Rates rates = meter.Sample(50, 125000, kStart + 2s);
    EXPECT_DOUBLE_EQ(rates.framesPerSecond, 25.0);
    EXPECT_DOUBLE_EQ(rates.kilobitsPerSecond, 500.0);
    rates = meter.Sample(60, 135000, kStart + 3s);
    EXPECT_DOUBLE_EQ(rates.framesPerSecond, 10.0);
    EXPECT_DOUBLE_EQ(rates.kilobitsPerSecond, 80.0);
    // No time passed: no rate rather than a division by zero.
    rates = meter.Sample(70, 145000, kStart + 3s);
    EXPECT_DOUBLE_EQ(rates.framesPerSecond, 0.0);
}

TEST(HostBenchStreamState, FollowsStartFramesSilenceSignalLossAndStop)
{
    StateInputs inputs;
    StreamCounters counters;
    EXPECT_EQ(StateOf(inputs, counters, kStart), StreamState::StartFailed);
    inputs.startAccepted = true;
    EXPECT_EQ(StateOf(inputs, counters, kStart), StreamState::Starting);

    counters.lastSignalLost = kStart;
    EXPECT_EQ(StateOf(inputs, counters, kStart + 1s), StreamState::SignalLost) << "lost before any frame";

    counters.frames = 1;
    counters.lastArrival = kStart + 1s;
    EXPECT_EQ(StateOf(inputs, counters, kStart + 1s), StreamState::Receiving) << "a frame after the loss";
    EXPECT_EQ(StateOf(inputs, counters, kStart + 1s + inputs.stallAfter - 1ms), StreamState::Receiving);
    EXPECT_EQ(StateOf(inputs, counters, kStart + 1s + inputs.stallAfter), StreamState::Stalled);

    counters.lastSignalLost = kStart + 5s;
    EXPECT_EQ(StateOf(inputs, counters, kStart + 5s), StreamState::SignalLost);
    inputs.stopped = true;
    EXPECT_EQ(StateOf(inputs, counters, kStart + 5s), StreamState::Stopped);
}

TEST(HostBenchTextFormat, SizesTimesAndPadding)
{
    EXPECT_EQ(ByteSize(0), "0 B");
    EXPECT_EQ(ByteSize(999), "999 B");
    EXPECT_EQ(ByteSize(1000), "1.00 kB");
    EXPECT_EQ(ByteSize(53899), "53.9 kB");
    EXPECT_EQ(ByteSize(170476), "170 kB");
    EXPECT_EQ(ByteSize(4560000), "4.56 MB");
    EXPECT_EQ(ByteSize(999999999999999ULL), "1000 TB");
    EXPECT_EQ(TimeOfDay(Utc(9, 5, 3, 7)), "09:05:03.007");
    EXPECT_EQ(DateAndTime(Utc(23, 59, 59, 999)), "2024-05-01 23:59:59.999 UTC");
    EXPECT_EQ(Fixed(24.96, 1), "25.0");
    EXPECT_EQ(PadRight("ab", 4), "ab  ");
    EXPECT_EQ(PadLeft("ab", 4), "  ab");
    EXPECT_EQ(PadLeft("abcdef", 4), "abcdef");
}

TEST(HostBenchStatusLine, ShowsStateCountsRatesAndTheLastCaptureTime)
{
    StreamCounters counters;
    counters.frames = 250;
    counters.lastCaptureTime = Utc(12, 34, 56, 789);
    const std::string line = FormatStatusLine("ch0-main-h264", StreamState::Receiving, counters, {25.0, 512.34});
    EXPECT_EQ(line, "ch0-main-h264   receiving        250 frames   25.0 fps    512.3 kbit/s  last 12:34:56.789");

    const std::string waiting = FormatStatusLine("ch0-live-jpeg", StreamState::Starting, StreamCounters{}, {});
    EXPECT_EQ(waiting, "ch0-live-jpeg   starting           0 frames    0.0 fps      0.0 kbit/s");
}

TEST(HostBenchLogLine, NamesTheLevelAndDefusesControlCharacters)
{
    EXPECT_EQ(FormatLogLine(1, "no route"), "[module error] no route");
    EXPECT_EQ(FormatLogLine(2, "x"), "[module warning] x");
    EXPECT_EQ(FormatLogLine(3, "x"), "[module info] x");
    EXPECT_EQ(FormatLogLine(100, "DRIVER IS OPENED"), "[module event] DRIVER IS OPENED");
    EXPECT_EQ(FormatLogLine(7, "x"), "[module level 7] x");
    // A camera's answer quoted in a line must not move the cursor or clear the screen.
    EXPECT_EQ(FormatLogLine(3, "a\r\nb\x1b[2J\tc\x7f"), "[module info] a\\r\\nb\\x1b[2J\tc\\x7f");
}

TEST(HostBenchConsole, PlainOutputAppendsStatusLinesLikeAnyOtherLine)
{
    std::ostringstream out;
    Console console(out, out, Console::Mode::Plain);
    console.Status({"s1", "s2"});
    console.Line("log");
    console.Status({"s3"});
    console.EndStatus();
    console.Line("end");
    EXPECT_EQ(out.str(), "s1\ns2\nlog\ns3\nend\n");
}

TEST(HostBenchConsole, ATerminalKeepsTheStatusBlockBelowTheLogLinesAndErrors)
{
    std::ostringstream out;
    std::ostringstream errors;
    Console console(out, errors, Console::Mode::Terminal);
    console.Line("opened");
    console.Status({"a 1", "b 1"});
    // Up two lines, erase them, print the log line, draw the block again.
    console.Line("log");
    console.Error("write failed");
    console.Status({"a 2", "b 2"});
    console.EndStatus();
    console.Line("summary");
    EXPECT_EQ(out.str(), "opened\n"
                         "a 1\nb 1\n"
                         "\r\x1b[2A\x1b[J"
                         "log\na 1\nb 1\n"
                         "\r\x1b[2A\x1b[J"
                         "a 1\nb 1\n"
                         "\r\x1b[2A\x1b[J"
                         "a 2\nb 2\n"
                         "summary\n");
    EXPECT_EQ(errors.str(), "write failed\n");
}

StreamResult Received(const char* codec, std::uint64_t frames)
{
    StreamResult result;
    result.request = ParseStreamRequest(codec);
    result.startAccepted = true;
    result.counters.frames = frames;
    return result;
}

TEST(HostBenchExitStatus, SaysWhetherEveryRequestedStreamGotFrames)
{
    RecordingOutcome outcome;
    outcome.streams = {Received("h264", 10), Received("jpeg,kind=live", 5)};
    EXPECT_EQ(ExitStatus(outcome), kExitRecorded);

    outcome.streams[0].writeError = "cannot write to x";
    EXPECT_EQ(ExitStatus(outcome), kExitFailed);

    outcome.streams[1].counters.frames = 0;
    EXPECT_EQ(ExitStatus(outcome), kExitNoFrames) << "a silent stream outranks a write error";

    outcome.misuses = 1;
    EXPECT_EQ(ExitStatus(outcome), kExitMisuse) << "a module fault outranks everything";
}

TEST(HostBenchSummary, NamesEveryStreamWithItsFileAndTheStreamsWithoutFrames)
{
    RecordingOutcome outcome;
    outcome.recordedSeconds = 3.04;
    outcome.interrupted = true;
    StreamResult h264 = Received("h264", 0);
    StreamStats stats;
    for (int i = 0; i <= 25; ++i)
    {
        FrameFacts facts = Facts(1250, kStart + i * 40ms, i % 25 == 0);
        facts.captureTime =
            Utc(12, 0, static_cast<std::uint16_t>(i * 40 / 1000), static_cast<std::uint16_t>(i * 40 % 1000));
        stats.OnFrame(facts);
    }
    h264.counters = stats.Snapshot();
    h264.target = "/rec/ch0-main-h264.h264";
    h264.writtenFrames = 24;
    h264.writtenBytes = 30000;
    h264.droppedFrames = 2;
    StreamResult refused = Received("jpeg,kind=live", 0);
    refused.startAccepted = false;
    refused.target = "/rec/ch0-live-jpeg.mjpeg";
    outcome.streams = {h264, refused};

    const std::vector<std::string> lines = FormatSummary(outcome);
    const std::vector<std::string> expected = {
        "Summary: recorded 3.0 s (interrupted)",
        "  ch0-main-h264: 26 frames (2 with parameter sets), 32.5 kB, 25.0 fps, 250.0 kbit/s, 1280x720",
        "    capture times 2024-05-01 12:00:00.000 UTC to 2024-05-01 12:00:01.000 UTC",
        "    file /rec/ch0-main-h264.h264: 24 frames, 30.0 kB",
        "    2 frames not written: the disk did not keep up",
        "  ch0-live-jpeg: start refused by the capture object, no frames",
        "    file /rec/ch0-live-jpeg.mjpeg: 0 frames, 0 B",
        "  1 of 2 streams received no frame: ch0-live-jpeg",
    };
    EXPECT_EQ(lines, expected);
}
}
}
