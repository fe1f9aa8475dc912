// Cuts the RTP packets out of an RTSP connection that carries the stream interleaved: "$", a
// channel byte, a 16-bit big-endian length, then the packet (RFC 2326, 10.12).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace kestrav
{
class IRTPReceiverUser;

// The RTP channel (0 unless the camera chose another in its SETUP answer) carries the RTP packets,
// which go to the user; the RTCP channel (1 by default) carries the camera's reports, which are
// skipped by their length. Anything else between frames (the PLAY answer, other
// RTSP text, garbage) is skipped byte by byte until the next frame header.
class CRTSPStreamParser
{
public:
    // `user` is not owned and must outlive the parser.
    explicit CRTSPStreamParser(IRTPReceiverUser& user, std::uint8_t rtpChannel = 0, std::uint8_t rtcpChannel = 1);
    virtual ~CRTSPStreamParser() = default;
    CRTSPStreamParser(const CRTSPStreamParser&) = delete;
    CRTSPStreamParser& operator=(const CRTSPStreamParser&) = delete;

    // Consumes a block of any length, as received; a frame may span any number of blocks. Calls the
    // user's OnInterleavedPacket once per RTP frame that parses, in order; the packet is valid during
    // the call only. Exceptions of the user pass through, with the parser ready for the next block.
    void Process(std::span<const std::uint8_t> block);

private:
    enum class State
    {
        Marker,     // looking for "$"
        Channel,    // after "$"
        LengthHigh, // after the channel byte
        LengthLow,
        RTPPayload,
        SkippedPayload, // a frame of the RTCP channel
    };

    std::span<const std::uint8_t> TakeRTPPayload(std::span<const std::uint8_t> block);
    void ResetState();

    std::uint8_t m_rtpChannelNumber;
    std::uint8_t m_rtcpChannelNumber;
    State m_state = State::Marker;
    bool m_rtpChannel = false;
    std::uint8_t m_lengthHigh = 0;
    // Payload bytes of the current frame still to come.
    std::uint16_t m_remaining = 0;
    // The part of an RTP frame received in earlier blocks; at most 65535 bytes.
    std::vector<std::uint8_t> m_payload;
    IRTPReceiverUser& m_user;
};
}
