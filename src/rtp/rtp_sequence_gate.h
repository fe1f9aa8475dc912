// Decides which received RTP packets belong to the camera's stream before they reach the
// depacketizer. Plain RTP cannot be authenticated, so anyone who can send from the camera's
// address can inject packets; the rules of RFC 3550 appendix A.1 keep such packets out as long as
// they do not follow on from the stream's position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rtp/rtp_packet.h"

namespace kestrav
{
class CRTPSequenceGate
{
public:
    // A new position (a new source, or a jump of the sequence number or the timestamp) is taken
    // once this many packets followed on from it in order.
    static constexpr std::uint32_t kMinSequential = 3;
    // Positions on probation are remembered in a table of this many entries (12 bytes each), so
    // that a stream that starts amid a flood of stray packets still finds its predecessors.
    static constexpr std::size_t kTrailSize = 4096;
    // The packets on probation whose bytes are kept for handing on: the newest few.
    static constexpr std::size_t kHeldPackets = 8;
    // How far a packet may lead the stream's position and still be handed on at once. Tighter
    // than the reports' dropout: a longer gap costs only the probation, since held packets are
    // handed on when it ends, and every number less is one a forger cannot hit.
    static constexpr std::uint32_t kMaximumForwardStep = 200;
    // Timestamp steps a 90 kHz video stream makes between two packets that follow on: ten
    // seconds forward (lost frames of a stream at one frame per second or less, a camera that
    // paused), half a second back (frames sent out of display order).
    static constexpr std::uint32_t kMaximumTimestampAdvance = 900000;
    static constexpr std::uint32_t kMaximumTimestampRetreat = 45000;
    // So a forged packet with the camera's source and random numbers passes with a chance of
    // 200/65536 × 945000/2^32, about 1 in 1.5 million. One that does costs what a loss would: the
    // frame in progress, and the camera's packets numbered below it, up to 100 of them.

    // Neighbouring packets swapped on the way (Wi-Fi bridges, bonded links) would otherwise cost
    // everything up to the next key frame: a packet of the stream that leads its position is held
    // while at most this many numbers below it are missing, ...
    static constexpr std::uint32_t kReorderGap = 3;
    // ... up to this many of them, leading the position by at most one more than that. A packet
    // that does not fit gives the missing ones up as lost, lowest first, until it fits. Held
    // packets wait for the next packet of the stream or Reset(): when the camera stops they go
    // with the frame in progress.
    static constexpr std::size_t kReorderPackets = 8;
    static constexpr std::uint32_t kReorderSpan = kReorderPackets + 1;

    enum class Verdict
    {
        // Hand the packet on.
        Pass,
        // Hand on the packets of TakeReleased() first, then this one: its position is confirmed.
        PassAfterReleased,
        // Hand on this one first, then the packets of TakeReleased(): it filled a gap in front of them.
        PassBeforeReleased,
        // Hand on the packets of TakeReleased(), not this one: it waits for a packet in front of it.
        ReleasedOnly,
        // Held on probation or dropped: the depacketizer must not see it (now).
        Hold,
    };

    Verdict Admit(const CRTPPacket& packet);
    // The packets released by the last Admit(), oldest first; valid until the next Admit() or
    // Reset(). Their buffers are reused, so that releasing does not allocate once warmed up.
    std::span<const CRTPPacket> TakeReleased();
    // Forgets the stream: the next packets start a new one (on probation like any other).
    void Reset();

    bool HasStream() const { return m_confirmed; }

private:
    struct Position
    {
        std::uint32_t ssrc = 0;
        std::uint16_t sequence = 0;
        std::uint32_t timestamp = 0;
    };
    // A position on probation and how many packets in order led up to it (0: an empty entry).
    struct Trail
    {
        Position last;
        std::uint32_t count = 0;
    };
    struct HeldPacket
    {
        Position position;
        bool used = false;
        // The bytes it was parsed from: packets are not copied while in use.
        std::vector<std::uint8_t> bytes;
    };

    static bool TimestampFollows(std::uint32_t previous, std::uint32_t next);
    static std::size_t TrailSlot(std::uint32_t ssrc, std::uint16_t sequence);
    Verdict FollowOn(const CRTPPacket& packet, std::uint32_t step);
    Verdict Probation(const CRTPPacket& packet);
    void Confirm(const Position& position);
    std::uint32_t MissingBelow(std::uint32_t step) const;
    bool HoldReordered(const CRTPPacket& packet);
    void ReleaseFollowing();
    bool GiveUpLowestGap();
    void Release(HeldPacket& held);

    bool m_confirmed = false;
    Position m_stream;
    std::vector<Trail> m_trail = std::vector<Trail>(kTrailSize);
    std::array<HeldPacket, kHeldPackets> m_held;
    std::size_t m_nextHeld = 0;
    // Packets of the confirmed stream that lead its position, waiting for the ones missing below.
    std::array<HeldPacket, kReorderPackets> m_reordered;
    std::array<CRTPPacket, kReorderPackets + kMinSequential - 1> m_released;
    std::size_t m_releasedCount = 0;
};
}
