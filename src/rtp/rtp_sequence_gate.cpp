#include "rtp/rtp_sequence_gate.h"

#include "rtp/rtp_packet.h"
#include "rtp/rtp_sequence_tracker.h"

namespace kestrav
{
namespace
{
static_assert(CRTPSequenceGate::kMinSequential >= 2, "one packet alone never moves the stream");

constexpr std::uint32_t kSequenceModulus = 65536;

void PutBigEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size)
{
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Packets are not copied while in use; a held one is kept as the bytes it was parsed from and
// parsed again when it is released.
void Serialize(const CRTPPacket& packet, std::vector<std::uint8_t>& bytes)
{
    const bool extension = packet.GetExtensionLength() != 0 || packet.GetExtensionProfile() != 0;
    bytes.clear();
    bytes.push_back(static_cast<std::uint8_t>(0x80 | (packet.GetPadding() ? 0x20 : 0) | (extension ? 0x10 : 0) |
                                              (packet.GetCSRCCount() & 0x0F)));
    bytes.push_back(static_cast<std::uint8_t>((packet.GetMarker() ? 0x80 : 0) | (packet.GetPayloadType() & 0x7F)));
    PutBigEndian(bytes, packet.GetSequenceNumber(), 2);
    PutBigEndian(bytes, packet.GetTimestamp(), 4);
    // The SSRC is kept in network order as received: its bytes go back as they are.
    const std::uint32_t ssrc = packet.GetSSRC();
    const auto* ssrcBytes = reinterpret_cast<const std::uint8_t*>(&ssrc);
    bytes.insert(bytes.end(), ssrcBytes, ssrcBytes + sizeof ssrc);
    bytes.insert(bytes.end(), packet.GetCSRCList().begin(), packet.GetCSRCList().end());
    if (extension)
    {
        const std::uint16_t profile = packet.GetExtensionProfile();
        const auto* profileBytes = reinterpret_cast<const std::uint8_t*>(&profile);
        bytes.insert(bytes.end(), profileBytes, profileBytes + sizeof profile);
        PutBigEndian(bytes, packet.GetExtensionLength(), 2);
        bytes.insert(bytes.end(), packet.GetExtensionData().begin(), packet.GetExtensionData().end());
    }
    bytes.insert(bytes.end(), packet.GetPayload().begin(), packet.GetPayload().end());
}
}

bool CRTPSequenceGate::TimestampFollows(std::uint32_t previous, std::uint32_t next)
{
    const std::uint32_t step = next - previous;
    return step <= kMaximumTimestampAdvance || step >= 0u - kMaximumTimestampRetreat;
}

CRTPSequenceGate::Verdict CRTPSequenceGate::Admit(const CRTPPacket& packet)
{
    m_releasedCount = 0;
    if (m_confirmed && packet.GetSSRC() == m_stream.ssrc)
    {
        const std::uint32_t step = static_cast<std::uint16_t>(packet.GetSequenceNumber() - m_stream.sequence);
        if (step > 0 && step <= kMaximumForwardStep && TimestampFollows(m_stream.timestamp, packet.GetTimestamp()))
            return FollowOn(packet, step);
        // A duplicate or a late packet: the depacketizer has moved on, and would take it for a gap.
        if (step == 0 || step > kSequenceModulus - CRTPSequenceTracker::kMaximumMisorder)
            return Verdict::Hold;
    }
    return Probation(packet);
}

// A packet of the stream `step` numbers ahead of its position: the next one goes on with those
// held behind it; one a little further waits for the missing ones; for one further still, the
// missing ones are given up, lowest first, until it fits.
CRTPSequenceGate::Verdict CRTPSequenceGate::FollowOn(const CRTPPacket& packet, std::uint32_t step)
{
    for (const HeldPacket& held : m_reordered)
    {
        if (held.used && held.position.sequence == packet.GetSequenceNumber())
            return Verdict::Hold;
    }
    const auto fits = [&] { return step <= kReorderSpan && MissingBelow(step) <= kReorderGap; };
    // The depacketizer sees the numbers given up as lost, as it would have without the wait.
    while (step > 1 && !fits() && GiveUpLowestGap())
        step = static_cast<std::uint16_t>(packet.GetSequenceNumber() - m_stream.sequence);
    const std::size_t released = m_releasedCount;
    if (step > 1 && fits() && HoldReordered(packet))
        return released == 0 ? Verdict::Hold : Verdict::ReleasedOnly;
    const bool filledGap = step == 1 && released == 0;
    // A packet that neither follows on nor fits lies beyond all that is still held.
    while (step > 1 && GiveUpLowestGap())
    {
    }
    m_stream = {packet.GetSSRC(), packet.GetSequenceNumber(), packet.GetTimestamp()};
    ReleaseFollowing();
    if (m_releasedCount == 0)
        return Verdict::Pass;
    return filledGap ? Verdict::PassBeforeReleased : Verdict::PassAfterReleased;
}

std::uint32_t CRTPSequenceGate::MissingBelow(std::uint32_t step) const
{
    std::uint32_t missing = step - 1;
    for (const HeldPacket& held : m_reordered)
    {
        if (held.used && static_cast<std::uint16_t>(held.position.sequence - m_stream.sequence) < step)
            --missing;
    }
    return missing;
}

bool CRTPSequenceGate::HoldReordered(const CRTPPacket& packet)
{
    for (HeldPacket& held : m_reordered)
    {
        if (!held.used)
        {
            held.position = {packet.GetSSRC(), packet.GetSequenceNumber(), packet.GetTimestamp()};
            held.used = true;
            Serialize(packet, held.bytes);
            return true;
        }
    }
    return false;
}

// The held packets that now follow on from the position, in order; the position moves past them.
void CRTPSequenceGate::ReleaseFollowing()
{
    for (bool found = true; found;)
    {
        found = false;
        const auto next = static_cast<std::uint16_t>(m_stream.sequence + 1);
        for (HeldPacket& held : m_reordered)
        {
            if (held.used && held.position.sequence == next)
            {
                m_stream = held.position;
                Release(held);
                found = true;
                break;
            }
        }
    }
}

// The position moves to the lowest held packet and past those that follow on from it; false when
// nothing is held.
bool CRTPSequenceGate::GiveUpLowestGap()
{
    HeldPacket* lowest = nullptr;
    for (HeldPacket& held : m_reordered)
    {
        if (held.used &&
            (lowest == nullptr || static_cast<std::uint16_t>(held.position.sequence - m_stream.sequence) <
                                      static_cast<std::uint16_t>(lowest->position.sequence - m_stream.sequence)))
            lowest = &held;
    }
    if (lowest == nullptr)
        return false;
    m_stream = lowest->position;
    Release(*lowest);
    ReleaseFollowing();
    return true;
}

// The packet is parsed again from its bytes; both buffers keep their capacity for the next one.
void CRTPSequenceGate::Release(HeldPacket& held)
{
    held.used = false;
    if (m_releasedCount < m_released.size() && m_released[m_releasedCount].Parse(held.bytes))
        ++m_releasedCount;
}

std::size_t CRTPSequenceGate::TrailSlot(std::uint32_t ssrc, std::uint16_t sequence)
{
    // Consecutive numbers of one source land in neighbouring entries; sources spread apart.
    return (sequence + (ssrc * 2654435761u >> 16)) % kTrailSize;
}

// A packet that does not follow on from the stream: it counts once packets in order lead up to
// it. Stray packets are remembered too, so that a real stream is told apart by following on,
// not by arriving first.
CRTPSequenceGate::Verdict CRTPSequenceGate::Probation(const CRTPPacket& packet)
{
    const Position position{packet.GetSSRC(), packet.GetSequenceNumber(), packet.GetTimestamp()};
    const std::uint16_t previous = static_cast<std::uint16_t>(position.sequence - 1);
    const Trail& before = m_trail[TrailSlot(position.ssrc, previous)];
    std::uint32_t count = 1;
    if (before.count != 0 && before.last.ssrc == position.ssrc && before.last.sequence == previous &&
        TimestampFollows(before.last.timestamp, position.timestamp))
        count = before.count + 1;
    if (count >= kMinSequential)
    {
        Confirm(position);
        return Verdict::PassAfterReleased;
    }
    m_trail[TrailSlot(position.ssrc, position.sequence)] = {position, count};
    HeldPacket& held = m_held[m_nextHeld];
    m_nextHeld = (m_nextHeld + 1) % kHeldPackets;
    held.position = position;
    held.used = true;
    Serialize(packet, held.bytes);
    return Verdict::Hold;
}

// The stream is here now; what led up to it is handed on first, as far as it was kept: packets
// the old position held for a swap, then those on probation.
void CRTPSequenceGate::Confirm(const Position& position)
{
    while (GiveUpLowestGap())
    {
    }
    m_confirmed = true;
    m_stream = position;
    for (std::uint32_t back = kMinSequential - 1; back > 0; --back)
    {
        const auto sequence = static_cast<std::uint16_t>(position.sequence - back);
        for (HeldPacket& held : m_held)
        {
            if (held.used && held.position.ssrc == position.ssrc && held.position.sequence == sequence)
            {
                Release(held);
                break;
            }
        }
    }
    for (Trail& trail : m_trail)
        trail = {};
    for (HeldPacket& held : m_held)
        held.used = false;
}

std::span<const CRTPPacket> CRTPSequenceGate::TakeReleased()
{
    const std::span<const CRTPPacket> packets(m_released.data(), m_releasedCount);
    m_releasedCount = 0;
    return packets;
}

void CRTPSequenceGate::Reset()
{
    m_confirmed = false;
    m_stream = {};
    for (Trail& trail : m_trail)
        trail = {};
    for (HeldPacket& held : m_held)
        held.used = false;
    for (HeldPacket& held : m_reordered)
        held.used = false;
    m_releasedCount = 0;
}
}
