#include "rtp/rtp_sequence_tracker.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kSequenceModulus = 65536;
}

void CRTPSequenceTracker::Update(std::uint16_t sequence)
{
    if (!m_started)
    {
        Restart(sequence);
        return;
    }
    const std::uint32_t step = static_cast<std::uint16_t>(sequence - m_highest);
    if (step < kMaximumDropout)
    {
        // A forward step that passes 65535 is a wrap.
        if (sequence < m_highest)
            m_cycles += kSequenceModulus;
        m_highest = sequence;
    }
    else if (step <= kSequenceModulus - kMaximumMisorder)
    {
        if (sequence == m_badSequence)
            Restart(sequence);
        else
            m_badSequence = (std::uint32_t{sequence} + 1) % kSequenceModulus;
    }
    // Otherwise a duplicate or a packet that arrived late: nothing changes.
}

void CRTPSequenceTracker::Restart(std::uint16_t sequence)
{
    m_started = true;
    m_highest = sequence;
    m_cycles = 0;
    m_badSequence = kNoBadSequence;
}
}
