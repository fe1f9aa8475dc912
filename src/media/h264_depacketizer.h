// H.264 access units rebuilt from RTP payloads (RFC 6184 single NAL units, STAP-A and FU-A)
// into an Annex B byte stream with three-byte start codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "media/rtp_media_parser.h"

namespace kestrav
{
// Frames are handed to the client on the packet with the marker bit. Nothing is delivered
// before the first access unit that carries a sequence parameter set ("H264"); any loss,
// unsupported or broken payload, overflow or refused frame drops the frame being built and
// waits for the next such access unit, so that damage on the way never reaches the host as a
// broken frame. A frame the host has no buffer for is dropped alone.
class CH264RTPMediaParser : public CRTPMediaParser
{
public:
    // Added to every finished frame: an access unit delimiter.
    static constexpr std::uint8_t kFrameTrailer[] = {0x00, 0x00, 0x01, 0x09, 0x30};
    // The marker bit on a single-NAL-unit SEI packet of at most this size does not end the frame.
    static constexpr std::size_t kSeiSizeThreshold = 300;

    explicit CH264RTPMediaParser(IDriver* driver);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;
    // Keeps the sequence and picture parameter sets only when the sequence set can be read.
    void SetParameterSets(const ParameterSets& sets) override;

    bool IsWaitingForKeyFrame() const { return m_waitingForKeyFrame; }

private:
    bool HandlePayload(std::span<const std::uint8_t> payload);
    bool HandleSingleNalUnit(std::span<const std::uint8_t> payload);
    bool HandleAggregate(std::span<const std::uint8_t> payload);
    bool HandleFragment(std::span<const std::uint8_t> payload);
    void AddParameterSets();
    // Appends a start code and the unit, noting what the frame now holds.
    void AppendNalUnit(std::span<const std::uint8_t> unit);
    void FinishFrame(std::uint32_t rtpTimestamp);
    void ClearFrame();

    bool m_waitingForKeyFrame = true;
    bool m_frameComplete = true;
    // Until the first marker bit or in-band parameter set, only the first slice of a picture
    // gets the parameter sets in front when it is a fragmented IDR slice.
    bool m_startUp = true;
    // What the frame being built holds.
    bool m_fragmentOpen = false;
    bool m_frameHasSlice = false;
    std::optional<std::size_t> m_sequenceSetOffset;
};
}
