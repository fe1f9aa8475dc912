// The alarm stream parser: given the bytes a camera pushes, cut anywhere, then which motion states come out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/alarm_chunk_parser.h"

namespace kestrav
{
namespace
{
// One part as the camera family writes it, without its boundary line.
std::string Part(const std::string& motionLine)
{
    const std::string body = motionLine + "\r\nAlarmInputDetect=0\r\n";
    return "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body + "\r\n";
}

const std::string kBoundary = "--ipcamera\r\n";

std::vector<bool> Feed(CAlarmChunkParser& parser, const std::vector<std::string>& chunks)
{
    std::vector<bool> states;
    for (const std::string& chunk : chunks)
        parser.HandleAlarmChunk(chunk, states);
    return states;
}

struct StreamCase
{
    const char* name;
    std::string stream;
    std::vector<bool> states;
};

const std::vector<StreamCase> kStreams = {
    {"trailing boundary",
     kBoundary + Part("MotionDetect=1") + kBoundary + Part("MotionDetect=0") + kBoundary,
     {true, false}},
    {"leading boundary", kBoundary + Part("MotionDetect=0") + kBoundary + Part("MotionDetect=1"), {false, true}},
    {"blanks around the equals sign",
     kBoundary + Part("MotionDetect = 1") + kBoundary + Part("\tMotionDetect\t=\t0"),
     {true, false}},
    {"text before the first boundary is dropped", "MotionDetect=1\r\n" + kBoundary + Part("MotionDetect=0"), {false}},
    {"a value that is no number is no motion", kBoundary + Part("MotionDetect=yes"), {false}},
    {"a closing boundary says nothing", kBoundary + Part("MotionDetect=1") + "--ipcamera--\r\n", {true}},
    {"a part without the key says nothing",
     kBoundary + Part("Heartbeat=1") + kBoundary + Part("MotionDetect=2"),
     {true}},
    {"a multi-digit value cut anywhere", kBoundary + Part("MotionDetect=10"), {true}},
    {"no boundary at all", "MotionDetect=1\r\nAlarmInputDetect=1\r\n", {}},
};

TEST(AlarmChunkParser, GivesTheSameStatesWhereverTheStreamIsCut)
{
    for (const StreamCase& stream : kStreams)
    {
        SCOPED_TRACE(stream.name);
        CAlarmChunkParser whole;
        EXPECT_EQ(Feed(whole, {stream.stream}), stream.states);
        for (std::size_t cut = 1; cut < stream.stream.size(); ++cut)
        {
            CAlarmChunkParser parser;
            EXPECT_EQ(Feed(parser, {stream.stream.substr(0, cut), stream.stream.substr(cut)}), stream.states)
                << "cut at " << cut;
        }
        CAlarmChunkParser bytewise;
        std::vector<std::string> bytes;
        for (char byte : stream.stream)
            bytes.emplace_back(1, byte);
        EXPECT_EQ(Feed(bytewise, bytes), stream.states);
    }
}

// A camera that sends the boundary only in front of the next event: each state counts as soon as its
// "MotionDetect" line has ended, not one event late.
TEST(AlarmChunkParser, ReportsAPartOnceItsMotionLineHasEnded)
{
    CAlarmChunkParser parser;
    EXPECT_EQ(Feed(parser, {kBoundary + "Content-Type: text/plain\r\n\r\nMotionDetect=1"}), std::vector<bool>{});
    EXPECT_EQ(Feed(parser, {"\r"}), std::vector<bool>{true});
    // The rest of the part and its closing boundary add nothing.
    EXPECT_EQ(Feed(parser, {"\nAlarmInputDetect=0\r\n\r\n--ipcamera\r\n"}), std::vector<bool>{});
    EXPECT_EQ(Feed(parser, {Part("MotionDetect=0")}), std::vector<bool>{false});
}

TEST(AlarmChunkParser, DropsTextWithoutABoundaryAndBoundsAnEndlessPart)
{
    CAlarmChunkParser parser;
    EXPECT_EQ(Feed(parser, {"no boundary in here\r\n"}), std::vector<bool>{});
    EXPECT_EQ(parser.PendingSize(), 0u);

    Feed(parser, {kBoundary});
    const std::string filler(4096, 'x');
    for (int i = 0; i < 40; ++i)
    {
        Feed(parser, {filler});
        ASSERT_LE(parser.PendingSize(), CAlarmChunkParser::kPendingLimit);
    }
    // The stream recovers at the next boundary.
    EXPECT_EQ(Feed(parser, {kBoundary + Part("MotionDetect=1")}), std::vector<bool>{true});
}

TEST(AlarmChunkParser, ClearForgetsAPartCutByTheEndOfTheResponse)
{
    CAlarmChunkParser parser;
    Feed(parser, {kBoundary + "MotionDetect=1"});
    parser.Clear();
    EXPECT_EQ(Feed(parser, {"\r\n"}), std::vector<bool>{});
}
}
}
