// The extended highest sequence number of the receiver reports (RFC 3550 appendix A.1).
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "rtp/rtp_sequence_tracker.h"

namespace kestrav
{
namespace
{
std::uint32_t AfterSequences(std::initializer_list<std::uint16_t> sequences)
{
    CRTPSequenceTracker tracker;
    for (const std::uint16_t sequence : sequences)
        tracker.Update(sequence);
    return tracker.GetExtendedHighestSequence();
}

TEST(RtpSequenceTracker, StartsAtTheFirstNumberAndFollowsGapsWithinTheDropout)
{
    CRTPSequenceTracker tracker;
    EXPECT_FALSE(tracker.IsStarted());
    EXPECT_EQ(tracker.GetExtendedHighestSequence(), 0u);
    tracker.Update(1000);
    EXPECT_TRUE(tracker.IsStarted());
    EXPECT_EQ(tracker.GetExtendedHighestSequence(), 1000u);

    EXPECT_EQ(AfterSequences({1000, 1001, 3999}), 3999u) << "a gap of 2998 is loss, not a jump";
    EXPECT_EQ(AfterSequences({1000, 3999, 6999}), 3999u) << "a step of exactly 3000 is a jump";
}

TEST(RtpSequenceTracker, CountsEachWrapInTheCycles)
{
    EXPECT_EQ(AfterSequences({65534, 65535, 0, 1}), 0x00010001u);
    // Loss across the wrap is still a wrap.
    EXPECT_EQ(AfterSequences({65000, 1000}), 0x000103E8u);

    // Steps just inside the dropout, through two wraps.
    CRTPSequenceTracker tracker;
    std::uint32_t sent = 0;
    for (int i = 0; i < 50; ++i, sent += 2999)
        tracker.Update(static_cast<std::uint16_t>(sent));
    EXPECT_EQ(tracker.GetExtendedHighestSequence(), sent - 2999);
}

TEST(RtpSequenceTracker, LateAndDuplicatePacketsChangeNothing)
{
    EXPECT_EQ(AfterSequences({1000, 1001, 1001, 1000, 902}), 1001u) << "up to 99 back is a late packet";
    // A late packet from before the wrap must neither undo nor repeat the wrap.
    EXPECT_EQ(AfterSequences({65534, 65535, 0, 1, 2, 65535}), 0x00010002u);
}

TEST(RtpSequenceTracker, AJumpIsIgnoredUntilTheNextPacketFollowsOnFromIt)
{
    EXPECT_EQ(AfterSequences({100, 5100}), 100u);
    EXPECT_EQ(AfterSequences({100, 5100, 5101}), 5101u);
    // The restart begins a new count: the wraps of the old stream are gone.
    EXPECT_EQ(AfterSequences({65535, 0, 5000, 5001}), 5001u);
    // A camera that restarted its stream with lower numbers.
    EXPECT_EQ(AfterSequences({40000, 100, 101}), 101u);
}

TEST(RtpSequenceTracker, OnlyTheNumberAfterTheLatestJumpConfirmsIt)
{
    // Two strays far apart: neither is followed on, so the stream stays where it was.
    EXPECT_EQ(AfterSequences({100, 5100, 9100, 5101}), 100u);
    EXPECT_EQ(AfterSequences({100, 5100, 9100, 5101, 5102}), 5102u);
    // In-order packets between the jump and its follower do not cancel it (A.1 keeps the
    // probation number until another jump replaces it).
    EXPECT_EQ(AfterSequences({100, 5100, 101, 102, 5101}), 5101u);
}
}
}
