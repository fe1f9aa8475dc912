#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>
#include <new>
#include <utility>

#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr std::uint8_t kFrameMarker = '$';
// Text between frames beyond this without a blank line is no answer of a camera.
constexpr std::size_t kMaxMessageText = 16 * 1024;
constexpr std::size_t kMaxMessageBody = 64 * 1024;
constexpr std::string_view kBlankLine = "\r\n\r\n";
}

// The camera's sender reports come on the RTCP channel between the RTP frames. Framed by their length,
// a report whose bytes happen to hold "$" and the RTP channel cannot pose as an RTP frame header and
// swallow the video after it. Only these two channels are framed: a "$" in RTSP text followed by some
// other byte is no frame, and taking it for one could skip up to 64 KiB of stream.
CRTSPStreamParser::CRTSPStreamParser(IRTPReceiverUser& user, std::uint8_t rtpChannel, std::uint8_t rtcpChannel)
    : m_rtpChannelNumber(rtpChannel), m_rtcpChannelNumber(rtcpChannel), m_user(user)
{
}

void CRTSPStreamParser::Process(std::span<const std::uint8_t> block)
{
    while (!block.empty())
    {
        switch (m_state)
        {
        case State::Marker:
        {
            const auto marker = std::ranges::find(block, kFrameMarker);
            const auto textLength = static_cast<std::size_t>(marker - block.begin());
            TakeText(block.first(textLength));
            block = block.subspan(textLength);
            // An answer's body may hold a "$": it is passed over before any frame is looked for.
            if (m_bodyRemaining > 0)
            {
                m_state = State::MessageBody;
                break;
            }
            if (block.empty())
                return;
            block = block.subspan(1);
            m_state = State::Channel;
            break;
        }
        case State::Channel:
            // Any other byte is looked at again as the possible start of a frame ("$$" 0x00 ...).
            if (block.front() != m_rtpChannelNumber && block.front() != m_rtcpChannelNumber)
            {
                m_state = State::Marker;
                break;
            }
            m_rtpChannel = block.front() == m_rtpChannelNumber;
            block = block.subspan(1);
            m_state = State::LengthHigh;
            break;
        case State::LengthHigh:
            m_lengthHigh = block.front();
            block = block.subspan(1);
            m_state = State::LengthLow;
            break;
        case State::LengthLow:
            m_remaining = static_cast<std::uint16_t>(m_lengthHigh << 8 | block.front());
            block = block.subspan(1);
            m_state = m_remaining == 0 ? State::Marker : State::Payload;
            break;
        case State::Payload:
            block = TakePayload(block);
            break;
        case State::MessageBody:
        {
            const std::size_t skipped = std::min(m_bodyRemaining, block.size());
            block = block.subspan(skipped);
            m_bodyRemaining -= skipped;
            if (m_bodyRemaining == 0)
                m_state = State::Marker;
            break;
        }
        }
    }
}

std::span<const std::uint8_t> CRTSPStreamParser::TakePayload(std::span<const std::uint8_t> block)
{
    const std::size_t taken = std::min<std::size_t>(m_remaining, block.size());
    const std::span<const std::uint8_t> bytes = block.first(taken);
    const bool complete = taken == m_remaining;
    // The whole frame: where it lies when it came in this block, else gathered.
    std::span<const std::uint8_t> frame;
    try
    {
        if (complete && m_payload.empty())
        {
            frame = bytes;
        }
        else
        {
            if (m_payload.empty())
                m_payload.reserve(m_remaining);
            m_payload.insert(m_payload.end(), bytes.begin(), bytes.end());
            if (complete)
                frame = m_payload;
        }
    }
    catch (const std::bad_alloc&)
    {
        // The frame is lost; the rest of the block is dropped with it and the next block starts a search
        // for a frame header.
        ResetState();
        std::vector<std::uint8_t>().swap(m_payload);
        return {};
    }

    if (!complete)
    {
        m_remaining = static_cast<std::uint16_t>(m_remaining - taken);
        return block.subspan(taken);
    }
    // Ready for the next frame before the user runs, whatever the user does; the gathered bytes stay
    // until the next frame starts.
    // The gathered bytes move out (the frame's span stays valid) and their capacity comes back after.
    std::vector<std::uint8_t> gathered;
    gathered.swap(m_payload);
    ResetState();
    if (!m_rtpChannel)
    {
        m_user.OnInterleavedReport(frame);
    }
    else if (CRTPPacket packet; packet.Parse(frame))
    {
        m_user.OnInterleavedPacket(packet);
    }
    gathered.clear();
    m_payload.swap(gathered);
    return block.subspan(taken);
}

void CRTSPStreamParser::TakeText(std::span<const std::uint8_t> text)
{
    if (!m_messageHandler || text.empty())
        return;
    const std::size_t searchFrom = m_text.size() < kBlankLine.size() ? 0 : m_text.size() - (kBlankLine.size() - 1);
    m_text.append(reinterpret_cast<const char*>(text.data()), text.size());
    std::size_t blankLine = m_text.find(kBlankLine, searchFrom);
    while (blankLine != std::string::npos && m_bodyRemaining == 0)
    {
        const std::size_t end = blankLine + kBlankLine.size();
        const std::size_t start = m_text.rfind("RTSP/", blankLine);
        if (start != std::string::npos)
        {
            const std::string_view message = std::string_view(m_text).substr(start, end - start);
            const std::string length = TrimBlanks(FindKeyValue("content-length", ":", ToLowerCopy(message), "\r\n"));
            const std::int32_t bodyLength = length.empty() ? 0 : ParseStrictIntOrZero(length);
            m_bodyRemaining =
                bodyLength > 0 ? std::min<std::size_t>(static_cast<std::size_t>(bodyLength), kMaxMessageBody) : 0;
            m_messageHandler(message);
        }
        // The body's bytes already here are passed over; the rest follows in the stream.
        const std::size_t bodyHere = std::min(m_bodyRemaining, m_text.size() - end);
        m_bodyRemaining -= bodyHere;
        m_text.erase(0, end + bodyHere);
        blankLine = m_text.find(kBlankLine);
    }
    if (m_text.size() > kMaxMessageText)
        m_text.clear();
}

void CRTSPStreamParser::ResetState()
{
    m_state = State::Marker;
    m_remaining = 0;
    // The capacity (at most one frame) is kept for the next frame.
    m_payload.clear();
}
}
