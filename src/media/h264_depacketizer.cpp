#include "media/h264_depacketizer.h"

#include <algorithm>
#include <exception>
#include <string>

#include "core/driver_services.h"
#include "core/media_frame.h"
#include "media/h264_sps_reader.h"
#include "media/media_parser_client.h"
#include "rtp/rtp_packet.h"

namespace kestrav
{
namespace
{
constexpr std::uint8_t kStartCode[] = {0x00, 0x00, 0x01};

// NAL unit types (ITU-T H.264 table 7-1) and RFC 6184 payload structures.
constexpr unsigned kNalTypeFirstSlice = 1;
constexpr unsigned kNalTypeIdrSlice = 5;
constexpr unsigned kNalTypeSei = 6;
constexpr unsigned kNalTypeSequenceParameterSet = 7;
constexpr unsigned kNalTypePictureParameterSet = 8;
constexpr unsigned kLastSingleNalUnitType = 23;
constexpr unsigned kPayloadStapA = 24;
constexpr unsigned kPayloadFuA = 28;

constexpr std::uint8_t kFuStartBit = 0x80;

unsigned NalType(std::uint8_t header)
{
    return header & 0x1F;
}

// Whether slice data (after the NAL header) belongs to the first slice of a picture: its
// first_mb_in_slice, an exponential-Golomb code, is 0, written as a single 1 bit.
bool StartsPicture(std::span<const std::uint8_t> sliceData)
{
    return !sliceData.empty() && (sliceData[0] & 0x80) != 0;
}
}

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet)
{
    try
    {
        if (!CheckSequence(packet))
            Reset();
        m_frameComplete = true;
        const std::optional<std::span<const std::uint8_t>> payload = GetMediaPayload(packet);
        if (!payload || !HandlePayload(*payload) || !CheckBufferSize())
        {
            Reset();
        }
        else if (m_frameComplete && packet.GetMarker() && !m_frame.empty())
        {
            FinishFrame(packet.GetTimestamp());
            ClearFrame();
        }
        if (packet.GetMarker())
            m_startUp = false;
    }
    catch (const std::exception&)
    {
        // No memory for the frame, or the channel failed while taking it: the frame is lost
        // and only the next key frame can be trusted.
        Reset();
    }
}

void CH264RTPMediaParser::Reset()
{
    m_waitingForKeyFrame = true;
    m_startUp = true;
    m_width = 0;
    m_height = 0;
    ClearFrame();
}

void CH264RTPMediaParser::SetParameterSets(const ParameterSets& sets)
{
    if (sets.first.empty())
        return;
    const std::optional<H264SequenceParameters> sps = ReadH264SequenceParameters(sets.first);
    if (!sps)
        return;
    m_width = sps->width;
    m_height = sps->height;
    m_parameterSets.first = sets.first;
    m_parameterSets.second = sets.second;
}

bool CH264RTPMediaParser::HandlePayload(std::span<const std::uint8_t> payload)
{
    if (payload.empty())
        return false;
    const unsigned type = NalType(payload[0]);
    if (type == kPayloadFuA)
        return HandleFragment(payload);
    m_fragmentOpen = false;
    if (type >= 1 && type <= kLastSingleNalUnitType)
        return HandleSingleNalUnit(payload);
    if (type == kPayloadStapA)
        return HandleAggregate(payload);
    // STAP-B, MTAP16, MTAP24 and FU-B belong to the interleaved mode, which is never set up;
    // 0, 30 and 31 are undefined.
    return false;
}

bool CH264RTPMediaParser::HandleSingleNalUnit(std::span<const std::uint8_t> payload)
{
    if (payload.size() < 2)
        return false;
    switch (NalType(payload[0]))
    {
    case kNalTypeIdrSlice:
        AddParameterSets();
        AppendNalUnit(payload);
        break;
    case kNalTypeSei:
        // Never part of the frame; a small one is not trusted to end it.
        m_frameComplete = payload.size() > kSeiSizeThreshold;
        break;
    case kNalTypeSequenceParameterSet:
        m_parameterSets.first.assign(payload.begin(), payload.end());
        m_startUp = false;
        break;
    case kNalTypePictureParameterSet:
        m_parameterSets.second.assign(payload.begin(), payload.end());
        m_startUp = false;
        break;
    default:
        AppendNalUnit(payload);
        break;
    }
    return true;
}

bool CH264RTPMediaParser::HandleAggregate(std::span<const std::uint8_t> payload)
{
    if (payload.size() < 4)
        return false;
    std::span<const std::uint8_t> rest = payload.subspan(1);
    while (rest.size() > 1)
    {
        const std::size_t size = std::size_t{rest[0]} << 8 | rest[1];
        rest = rest.subspan(2);
        if (rest.size() < size)
            return false;
        // An empty unit (a zero size, also as trailing bytes) would leave a bare start code.
        if (size > 0)
            AppendNalUnit(rest.first(size));
        rest = rest.subspan(size);
    }
    return true;
}

bool CH264RTPMediaParser::HandleFragment(std::span<const std::uint8_t> payload)
{
    if (payload.size() < 3)
        return false;
    const std::uint8_t indicator = payload[0];
    const std::uint8_t header = payload[1];
    if ((header & kFuStartBit) != 0)
    {
        const std::uint8_t nalHeader = static_cast<std::uint8_t>((indicator & 0xE0) | NalType(header));
        // In start-up the access unit may have begun before the first packet seen, and only
        // its first slice may open a key frame; without it the first key frame of a camera that
        // sends its sets only in the session description would be lost, and a whole GOP with it.
        if (NalType(nalHeader) == kNalTypeIdrSlice && (!m_startUp || StartsPicture(payload.subspan(2))))
            AddParameterSets();
        AppendNalUnit(std::span<const std::uint8_t>(&nalHeader, 1));
        m_fragmentOpen = true;
    }
    else if (!m_fragmentOpen)
    {
        // The start of this unit was never seen (the first packets of a stream, or after a
        // broken packet): its tail alone would be appended without a NAL header.
        return false;
    }
    m_frame.insert(m_frame.end(), payload.begin() + 2, payload.end());
    return true;
}

void CH264RTPMediaParser::AddParameterSets()
{
    // In front of the first slice of the access unit, after any delimiter or SEI the camera
    // sent first, unless the access unit brought its own sequence set.
    if (m_frameHasSlice || m_sequenceSetOffset || m_parameterSets.first.empty() || m_parameterSets.second.empty())
        return;
    AppendNalUnit(m_parameterSets.first);
    AppendNalUnit(m_parameterSets.second);
}

void CH264RTPMediaParser::AppendNalUnit(std::span<const std::uint8_t> unit)
{
    m_frame.insert(m_frame.end(), std::begin(kStartCode), std::end(kStartCode));
    const unsigned type = NalType(unit[0]);
    if (type == kNalTypeSequenceParameterSet && !m_sequenceSetOffset)
        m_sequenceSetOffset = m_frame.size();
    if (type >= kNalTypeFirstSlice && type <= kNalTypeIdrSlice)
        m_frameHasSlice = true;
    m_frame.insert(m_frame.end(), unit.begin(), unit.end());
}

void CH264RTPMediaParser::FinishFrame(std::uint32_t rtpTimestamp)
{
    IDriver* driver = GetDriver();
    IMediaParserClient* client = GetClient();
    ipcapture::IIPMediaAllocator* allocator = driver->GetMediaAllocator();
    if (allocator == nullptr || client == nullptr)
        return;

    m_frame.insert(m_frame.end(), std::begin(kFrameTrailer), std::end(kFrameTrailer));
    std::uint32_t typeCode = ipcapture::kTypeCodeI264;
    if (m_sequenceSetOffset)
    {
        // The set ends at the next start code at the latest: the trailer's if nothing else.
        const std::optional<H264SequenceParameters> sps =
            ReadH264SequenceParameters(std::span<const std::uint8_t>(m_frame).subspan(*m_sequenceSetOffset));
        if (sps)
        {
            m_width = sps->width;
            m_height = sps->height;
            typeCode = ipcapture::kTypeCodeH264;
            m_waitingForKeyFrame = false;
        }
    }
    if (typeCode != ipcapture::kTypeCodeH264 && m_waitingForKeyFrame)
        return;

    const std::uint32_t size = static_cast<std::uint32_t>(m_frame.size());
    const std::string streamName = client->GetStreamName();
    CMediaFrame frame = CMediaFrame::Allocate(allocator, typeCode, static_cast<std::uint32_t>(GetBufferCapacity(size)),
                                              streamName.c_str());
    if (!frame)
        return;
    if (frame.Data().size() < size)
    {
        driver->SendDebugMessage(kLogError, "%s: Data copying error, device %s",
                                 "kestrav::CH264RTPMediaParser::ProcessFrame", driver->GetDeviceAddress().c_str());
        Reset();
        return;
    }
    std::copy(m_frame.begin(), m_frame.end(), frame.Data().begin());

    FrameDescription description;
    description.width = m_width;
    description.height = m_height;
    description.dataSize = size;
    description.typeCode = typeCode;
    client->ConvertTimeStamp(rtpTimestamp, description.timestamp);
    frame.Describe(description);
    if (!frame.Deliver([client](ipcapture::IIPMediaBuffer* buffer) { return client->OnFrame(buffer); }))
        Reset();
}

void CH264RTPMediaParser::ClearFrame()
{
    m_frame.clear();
    m_fragmentOpen = false;
    m_frameHasSlice = false;
    m_sequenceSetOffset.reset();
}
}
