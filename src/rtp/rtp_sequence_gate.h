// Decides which received RTP packets belong to the camera's stream before they reach the
// depacketizer. Plain RTP cannot be authenticated, so anyone who can send from the camera's
// address can inject packets; the rules of RFC 3550 appendix A.1 keep such packets out as long as
// they do not follow on from the stream's position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrav
{
class CRTPPacket;

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

    enum class Verdict
    {
        // Hand the packet on.
        Pass,
        // Hand on the packets of TakeReleased() first, then this one: its position is confirmed.
        PassAfterReleased,
        // Held on probation or dropped: the depacketizer must not see it (now).
        Hold,
    };

    Verdict Admit(const CRTPPacket& packet);
    // The packets that were held for the position just confirmed, oldest first.
    std::vector<CRTPPacket> TakeReleased();
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
    Verdict Probation(const CRTPPacket& packet);
    void Confirm(const Position& position);

    bool m_confirmed = false;
    Position m_stream;
    std::vector<Trail> m_trail = std::vector<Trail>(kTrailSize);
    std::array<HeldPacket, kHeldPackets> m_held;
    std::size_t m_nextHeld = 0;
    std::vector<std::vector<std::uint8_t>> m_released;
};
}
