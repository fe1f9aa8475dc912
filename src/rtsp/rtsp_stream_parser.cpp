#include "rtsp/rtsp_stream_parser.h"

#include <algorithm>
#include <new>

#include "rtp/rtp_packet.h"
#include "rtp/rtp_receiver_user.h"

namespace kestrav
{
namespace
{
constexpr std::uint8_t kFrameMarker = '$';
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
            if (marker == block.end())
                return;
            block = block.subspan(static_cast<std::size_t>(marker - block.begin()) + 1);
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
            if (m_remaining == 0)
                m_state = State::Marker;
            else
                m_state = m_rtpChannel ? State::RTPPayload : State::SkippedPayload;
            break;
        case State::RTPPayload:
            block = TakeRTPPayload(block);
            break;
        case State::SkippedPayload:
        {
            const std::size_t skipped = std::min<std::size_t>(m_remaining, block.size());
            block = block.subspan(skipped);
            m_remaining = static_cast<std::uint16_t>(m_remaining - skipped);
            if (m_remaining == 0)
                m_state = State::Marker;
            break;
        }
        }
    }
}

std::span<const std::uint8_t> CRTSPStreamParser::TakeRTPPayload(std::span<const std::uint8_t> block)
{
    const std::size_t taken = std::min<std::size_t>(m_remaining, block.size());
    const std::span<const std::uint8_t> bytes = block.first(taken);
    const bool complete = taken == m_remaining;
    CRTPPacket packet;
    bool parsed = false;
    try
    {
        if (complete && m_payload.empty())
        {
            // The whole frame is in this block: parsed where it lies.
            parsed = packet.Parse(bytes);
        }
        else
        {
            if (m_payload.empty())
                m_payload.reserve(m_remaining);
            m_payload.insert(m_payload.end(), bytes.begin(), bytes.end());
            if (complete)
                parsed = packet.Parse(m_payload);
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
    // Ready for the next frame before the user runs, whatever the user does.
    ResetState();
    if (parsed)
        m_user.OnInterleavedPacket(packet);
    return block.subspan(taken);
}

void CRTSPStreamParser::ResetState()
{
    m_state = State::Marker;
    m_remaining = 0;
    // The capacity (at most one frame) is kept for the next frame.
    m_payload.clear();
}
}
