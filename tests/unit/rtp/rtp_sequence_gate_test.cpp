// Which packets of the camera's address reach the depacketizer: those that follow on from the
// stream's position; a new position counts once three packets confirm it, and then none of them
// is lost; packets swapped on the way reach it in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "rtp/rtp_packet.h"
#include "rtp/rtp_sequence_gate.h"

namespace kestrav
{
namespace
{
using Verdict = CRTPSequenceGate::Verdict;

constexpr std::uint32_t kSsrc = 0x11223344;

struct Sent
{
    std::uint16_t sequence;
    std::uint32_t timestamp;
    std::uint32_t ssrc = kSsrc;
};

CRTPPacket Packet(const Sent& sent, std::vector<std::uint8_t> payload = {0x41, 0x9A})
{
    std::vector<std::uint8_t> bytes = {0x80, 0x60};
    for (int shift = 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(sent.sequence >> shift));
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(sent.timestamp >> shift));
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(sent.ssrc >> shift));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    CRTPPacket packet;
    EXPECT_TRUE(packet.Parse(bytes));
    return packet;
}

// The sequence numbers that reach the depacketizer, in the order they reach it.
class GateRun
{
public:
    void Send(const Sent& sent) { Send(Packet(sent)); }
    void Send(const CRTPPacket& packet)
    {
        switch (gate.Admit(packet))
        {
        case Verdict::Hold:
            return;
        case Verdict::PassAfterReleased:
            for (const CRTPPacket& held : gate.TakeReleased())
                passed.push_back(held.GetSequenceNumber());
            break;
        case Verdict::ReleasedOnly:
            for (const CRTPPacket& held : gate.TakeReleased())
                passed.push_back(held.GetSequenceNumber());
            return;
        case Verdict::PassBeforeReleased:
            passed.push_back(packet.GetSequenceNumber());
            for (const CRTPPacket& held : gate.TakeReleased())
                passed.push_back(held.GetSequenceNumber());
            return;
        case Verdict::Pass:
            break;
        }
        passed.push_back(packet.GetSequenceNumber());
    }

    CRTPSequenceGate gate;
    std::vector<std::uint16_t> passed;
};

// A 30 fps stream of three packets per frame from `sequence` and `timestamp` on.
std::vector<Sent> Stream(std::uint16_t sequence, std::uint32_t timestamp, int count, std::uint32_t ssrc = kSsrc)
{
    std::vector<Sent> packets;
    for (int i = 0; i < count; ++i)
        packets.push_back({static_cast<std::uint16_t>(sequence + i), timestamp + 3000u * (i / 3), ssrc});
    return packets;
}

struct GateCase
{
    std::string name;
    std::vector<Sent> sent;
    std::vector<std::uint16_t> passed;
};

void PrintTo(const GateCase& run, std::ostream* out)
{
    *out << run.name;
}

class SequenceGate : public ::testing::TestWithParam<GateCase>
{
};

TEST_P(SequenceGate, PassesWhatFollowsOn)
{
    GateRun run;
    for (const Sent& sent : GetParam().sent)
        run.Send(sent);
    EXPECT_EQ(run.passed, GetParam().passed);
}

std::vector<Sent> Then(std::vector<Sent> first, const std::vector<Sent>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SequenceGate,
    ::testing::Values(
        // The first two packets wait for the third, then all three go on: the key frame is whole.
        GateCase{"NewStreamConfirmedByItsThirdPacketLosesNothing", Stream(65534, 1000, 5), {65534, 65535, 0, 1, 2}},
        GateCase{"ShortGapIsLossNotAJump",
                 {{10, 0}, {11, 0}, {12, 0}, {212, 900000}, {213, 900000}},
                 {10, 11, 12, 212, 213}},
        // A longer gap waits for confirmation, and then loses nothing more.
        GateCase{"LongGapIsConfirmedFirst",
                 {{10, 0}, {11, 0}, {12, 0}, {2900, 3000}, {2901, 3000}, {2902, 6000}},
                 {10, 11, 12, 2900, 2901, 2902}},
        GateCase{"DuplicateAndLatePacketsAreDropped",
                 {{10, 0}, {11, 0}, {12, 0}, {12, 0}, {13, 0}, {11, 0}, {14, 3000}, {12, 0}},
                 {10, 11, 12, 13, 14}},
        // A camera that restarted: new source, numbers and timestamps; three packets bring it back.
        GateCase{"RestartWithNewSourceRecoversWithinThreePackets",
                 Then(Stream(100, 5000, 3), Stream(40000, 0x80000000u, 4, 0x55667788)),
                 {100, 101, 102, 40000, 40001, 40002, 40003}},
        GateCase{"SequenceJumpOfTheSameSourceRecoversToo",
                 Then(Stream(100, 5000, 3), Stream(20000, 8000, 3)),
                 {100, 101, 102, 20000, 20001, 20002}},
        // Numbers that follow on with a timestamp from elsewhere are a new position as well; the
        // packets after it wait for a real 13 as for a swap, and go on once the window is full.
        GateCase{"TimestampJumpWaitsForConfirmation",
                 Then({{10, 0}, {11, 0}, {12, 0}, {13, 50000000}}, Stream(14, 2000, 9)),
                 {10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22}},
        GateCase{"OneForeignSourcePacketAmidTheStreamIsHeldBack",
                 {{10, 0}, {11, 0}, {12, 0}, {13, 0, 0x99}, {13, 0}, {14, 0}},
                 {10, 11, 12, 13, 14}},
        // Swapped neighbours are put back in order, so the depacketizer sees no gap.
        GateCase{"NeighbourSwapArrivesInOrder",
                 {{10, 0}, {11, 0}, {12, 0}, {14, 3000}, {13, 3000}, {15, 3000}},
                 {10, 11, 12, 13, 14, 15}},
        GateCase{"SwapAcrossAFrameEnd",
                 {{10, 0}, {11, 0}, {12, 0}, {13, 3000}, {15, 6000}, {14, 3000}, {16, 6000}},
                 {10, 11, 12, 13, 14, 15, 16}},
        GateCase{"SecondGapBehindTheFirstWaitsToo",
                 {{10, 0}, {11, 0}, {12, 0}, {14, 0}, {16, 0}, {13, 0}, {15, 0}, {17, 0}},
                 {10, 11, 12, 13, 14, 15, 16, 17}},
        GateCase{"DuplicateOfAHeldPacketIsDropped",
                 {{10, 0}, {11, 0}, {12, 0}, {14, 0}, {14, 0}, {13, 0}, {14, 0}, {15, 0}},
                 {10, 11, 12, 13, 14, 15}},
        // 13 never comes: eight packets wait for it, the ninth gives it up, and nothing else is
        // lost; when 13 turns up after all it is late.
        GateCase{"LossIsGivenUpWhenTheWindowFills",
                 Then(Then(Stream(10, 0, 3), Stream(14, 3000, 9)), {{13, 0}, {23, 12000}}),
                 {10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}},
        GateCase{
            "WindowFullOfHeldPacketsWithoutTheMissingOne", Then(Stream(10, 0, 3), Stream(14, 3000, 8)), {10, 11, 12}},
        // More missing than a swap explains: a loss, handed on at once.
        GateCase{"BurstLossPassesAtOnce", {{10, 0}, {11, 0}, {12, 0}, {17, 3000}}, {10, 11, 12, 17}},
        // Gaps are given up lowest first, only as far as the newest packet needs.
        GateCase{"GrowingGapGivesUpTheLowestFirst",
                 {{10, 0}, {11, 0}, {12, 0}, {14, 0}, {18, 0}, {15, 0}, {16, 0}, {17, 0}},
                 {10, 11, 12, 14, 15, 16, 17, 18}},
        GateCase{"SwapAtTheWindowEdgeAfterALoss",
                 Then(Then(Stream(10, 0, 3), Stream(14, 3000, 8)), {{23, 12000}, {22, 12000}, {24, 12000}}),
                 {10, 11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}},
        // The camera restarted while a packet waited for its predecessor: it goes on first.
        GateCase{"HeldPacketGoesOnBeforeANewSource",
                 Then({{10, 0}, {11, 0}, {12, 0}, {14, 0}}, Stream(40000, 0x80000000u, 3, 0x55667788)),
                 {10, 11, 12, 14, 40000, 40001, 40002}}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return info.param.name; });

// Packets with the camera's source and random numbers, timestamps and payloads, nine for each
// packet of the camera, from the stream's first packet on: none of them gets through, and of the
// camera's packets at most the two that waited for confirmation are lost (their bytes were pushed
// out by the flood's).
TEST(SequenceGateFlood, ForgedPacketsOfTheRightSourceNeverPass)
{
    std::mt19937 random(18);
    GateRun run;
    std::vector<std::uint16_t> real;
    std::uint16_t sequence = 500;
    std::uint32_t timestamp = 123456;
    for (int i = 0; i < 100000; ++i)
    {
        if (i % 10 == 0)
        {
            real.push_back(sequence);
            run.Send({sequence++, timestamp});
            timestamp += i % 30 == 0 ? 3000 : 0;
            continue;
        }
        run.Send(Packet({static_cast<std::uint16_t>(random()), static_cast<std::uint32_t>(random()), kSsrc},
                        {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())}));
    }
    ASSERT_GE(run.passed.size() + 2, real.size());
    ASSERT_LE(run.passed.size(), real.size());
    EXPECT_TRUE(std::equal(run.passed.begin(), run.passed.end(), real.end() - run.passed.size()));
}

// A lossy relay: 5 % of the packets lost and 5 % swapped with their neighbour. Every packet that
// arrives reaches the depacketizer, in order.
TEST(SequenceGateLossyRelay, HandsOnEveryPacketThatArrivesInOrder)
{
    std::mt19937 random(7);
    std::vector<Sent> arriving = Stream(1000, 0, 3);
    std::vector<std::uint16_t> expected = {1000, 1001, 1002};
    const std::vector<Sent> stream = Stream(1003, 3000, 20000);
    for (std::size_t i = 0; i < stream.size(); ++i)
    {
        // The last few arrive as sent, so that nothing is left waiting at the end.
        const bool tail = i + 12 >= stream.size();
        if (!tail && random() % 20 == 0)
            continue;
        expected.push_back(stream[i].sequence);
        if (!tail && random() % 20 == 0)
        {
            expected.push_back(stream[i + 1].sequence);
            arriving.push_back(stream[i + 1]);
            arriving.push_back(stream[i++]);
            continue;
        }
        arriving.push_back(stream[i]);
    }
    GateRun run;
    for (const Sent& sent : arriving)
        run.Send(sent);
    EXPECT_EQ(run.passed, expected);
}

TEST(SequenceGateReset, StartsOverOnProbation)
{
    GateRun run;
    for (const Sent& sent : Stream(10, 0, 3))
        run.Send(sent);
    ASSERT_TRUE(run.gate.HasStream());
    run.gate.Reset();
    EXPECT_FALSE(run.gate.HasStream());
    run.passed.clear();
    run.Send({13, 0});
    EXPECT_TRUE(run.passed.empty()) << "the reopened stream is confirmed afresh";
}

TEST(SequenceGateReset, DropsPacketsHeldForASwap)
{
    GateRun run;
    for (const Sent& sent : Stream(0, 0, 3))
        run.Send(sent);
    run.Send({4, 0});
    run.gate.Reset();
    run.passed.clear();
    for (const Sent& sent : Stream(5, 0, 3))
        run.Send(sent);
    EXPECT_EQ(run.passed, (std::vector<std::uint16_t>{5, 6, 7}));
}

// A held packet reaches the depacketizer as it came: marker, type, source, CSRCs, extension, payload.
TEST(SequenceGateRelease, HandsOnHeldPacketsUnchanged)
{
    const std::vector<std::uint8_t> bytes = {0x91, 0xE0, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00,
                                             0xAA, 0xBB, 0xCC, 0xDD, // V=2, X=1, CC=1; M=1, PT=96
                                             0x01, 0x02, 0x03, 0x04, // CSRC
                                             0xBE, 0xDE, 0x00, 0x01, 0x10, 0x20, 0x30, 0x40, // one-word extension
                                             0x7C, 0x85, 0x01, 0x02};                        // FU-A payload
    CRTPPacket first;
    ASSERT_TRUE(first.Parse(bytes));
    CRTPSequenceGate gate;
    ASSERT_EQ(gate.Admit(first), Verdict::Hold);
    ASSERT_EQ(gate.Admit(Packet({8, 0x10000, 0xAABBCCDD})), Verdict::Hold);
    ASSERT_EQ(gate.Admit(Packet({9, 0x10000, 0xAABBCCDD})), Verdict::PassAfterReleased);
    const std::span<const CRTPPacket> released = gate.TakeReleased();
    ASSERT_EQ(released.size(), 2u);
    const CRTPPacket& held = released.front();
    EXPECT_TRUE(held.GetMarker());
    EXPECT_EQ(held.GetPayloadType(), 96);
    EXPECT_EQ(held.GetSequenceNumber(), 7);
    EXPECT_EQ(held.GetTimestamp(), 0x10000u);
    EXPECT_EQ(held.GetSSRC(), first.GetSSRC());
    EXPECT_EQ(std::vector<std::uint8_t>(held.GetCSRCList().begin(), held.GetCSRCList().end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(held.GetExtensionProfile(), first.GetExtensionProfile());
    EXPECT_EQ(held.GetExtensionLength(), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(held.GetPayload().begin(), held.GetPayload().end()),
              (std::vector<std::uint8_t>{0x7C, 0x85, 0x01, 0x02}));
}
}
}
