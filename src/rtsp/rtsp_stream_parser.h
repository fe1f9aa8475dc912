// Cuts the RTP packets out of an RTSP connection that carries the stream interleaved: "$", a
// channel byte, a 16-bit big-endian length, then the packet (RFC 2326, 10.12).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav
{
class IRTPReceiverUser;

// The RTP channel (0 unless the camera chose another in its SETUP answer) carries the RTP packets,
// which go to the user; the RTCP channel (1 by default) carries the camera's reports, which go to the
// user's report handler. Text between frames is where the answers to requests sent while streaming
// come (the PLAY answer first): with a message handler each answer's headers go to it and its body
// is passed over by its Content-Length; anything else (garbage) is skipped until the next frame header.
class CRTSPStreamParser
{
public:
    // `user` is not owned and must outlive the parser.
    explicit CRTSPStreamParser(IRTPReceiverUser& user, std::uint8_t rtpChannel = 0, std::uint8_t rtcpChannel = 1);
    virtual ~CRTSPStreamParser() = default;
    CRTSPStreamParser(const CRTSPStreamParser&) = delete;
    CRTSPStreamParser& operator=(const CRTSPStreamParser&) = delete;

    // Gets each RTSP answer found between frames: from its status line to the blank line.
    using MessageHandler = std::function<void(std::string_view message)>;
    void SetMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

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
        Payload,
        MessageBody, // the body of an answer between frames
    };

    std::span<const std::uint8_t> TakePayload(std::span<const std::uint8_t> block);
    void TakeText(std::span<const std::uint8_t> text);
    void ResetState();

    std::uint8_t m_rtpChannelNumber;
    std::uint8_t m_rtcpChannelNumber;
    State m_state = State::Marker;
    bool m_rtpChannel = false;
    std::uint8_t m_lengthHigh = 0;
    // Payload bytes of the current frame still to come.
    std::uint16_t m_remaining = 0;
    // The part of a frame received in earlier blocks; at most 65535 bytes.
    std::vector<std::uint8_t> m_payload;
    // Text between frames not yet seen to end in a blank line; bounded.
    std::string m_text;
    std::size_t m_bodyRemaining = 0;
    MessageHandler m_messageHandler;
    IRTPReceiverUser& m_user;
};
}
