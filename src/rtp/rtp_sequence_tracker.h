// The extended highest sequence number of an RTP stream, tracked with the rules of RFC 3550
// appendix A.1, for the receiver reports.
#pragma once

#include <cstdint>

namespace kestrav
{
class CRTPSequenceTracker
{
public:
    // A.1's limits: a step of up to this many numbers is taken as a gap ...
    static constexpr std::uint32_t kMaximumDropout = 3000;
    // ... and one of up to this many back as a late or duplicate packet.
    static constexpr std::uint32_t kMaximumMisorder = 100;

    // The first call starts the tracking at `sequence`. A jump beyond the dropout limit is
    // ignored until the next packet confirms it by following on, which restarts the tracking
    // there: that is a camera that restarted its stream, not a stray packet.
    void Update(std::uint16_t sequence);

    bool IsStarted() const { return m_started; }
    // Wrap count × 65536 + highest sequence; 0 before the first update.
    std::uint32_t GetExtendedHighestSequence() const { return m_cycles + m_highest; }

private:
    void Restart(std::uint16_t sequence);

    // A.1's RTP_SEQ_MOD + 1: a value no 16-bit sequence number can match.
    static constexpr std::uint32_t kNoBadSequence = 65537;

    bool m_started = false;
    std::uint16_t m_highest = 0;
    // A multiple of 65536; it wraps with the 32-bit field of the report.
    std::uint32_t m_cycles = 0;
    // The number that would confirm the last jump.
    std::uint32_t m_badSequence = kNoBadSequence;
};
}
