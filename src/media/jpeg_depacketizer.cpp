#include "media/jpeg_depacketizer.h"

#include <algorithm>
#include <exception>
#include <string>

#include "core/driver_services.h"
#include "core/media_frame.h"
#include "media/jpeg_tables.h"
#include "media/media_parser_client.h"
#include "rtp/rtp_packet.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

// RFC 2435 section 3.1: types 64 to 127 are types 0 to 63 with restart marker headers; types
// 128 and above are defined out of band, so their layout is unknown here.
constexpr std::uint8_t kFirstRestartType = 64;
constexpr std::uint8_t kFirstDynamicType = 128;
constexpr std::uint8_t kFirstInBandQ = 128;
constexpr std::uint8_t kPerPictureQ = 255;
constexpr std::size_t kQuantizationHeaderSize = 4;

constexpr std::uint8_t kEndOfImage[] = {0xFF, 0xD9};

std::uint32_t ReadUint24(std::span<const std::uint8_t> bytes)
{
    return std::uint32_t{bytes[0]} << 16 | std::uint32_t{bytes[1]} << 8 | bytes[2];
}

std::uint16_t ReadUint16(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// A width or height byte counts 8-pixel units; 0 stands for 256 units.
std::uint32_t PictureDimension(std::uint8_t units)
{
    return (units == 0 ? 256u : units) * 8u;
}

class SegmentWriter
{
public:
    void Bytes(std::initializer_list<std::uint8_t> bytes) { m_out.insert(m_out.end(), bytes); }
    void Bytes(std::span<const std::uint8_t> bytes) { m_out.insert(m_out.end(), bytes.begin(), bytes.end()); }
    void Uint16(std::size_t value)
    {
        m_out.push_back(static_cast<std::uint8_t>(value >> 8));
        m_out.push_back(static_cast<std::uint8_t>(value));
    }

    void RestartInterval(std::uint16_t interval)
    {
        Bytes({0xFF, 0xDD, 0x00, 0x04});
        Uint16(interval);
    }
    void QuantizationTable(std::uint8_t precisionAndId, std::span<const std::uint8_t> entries)
    {
        Bytes({0xFF, 0xDB});
        Uint16(entries.size() + 3);
        m_out.push_back(precisionAndId);
        Bytes(entries);
    }
    // 8-bit samples, three components with the given numbers; the first is luminance. Baseline
    // frames only allow 8-bit tables, so 16-bit ones need an extended sequential frame.
    void Frame(std::uint32_t width, std::uint32_t height, std::uint8_t firstComponent, std::uint8_t lumaSampling,
               std::uint8_t chromaTable, bool sixteenBitTables = false)
    {
        Bytes({0xFF, static_cast<std::uint8_t>(sixteenBitTables ? 0xC1 : 0xC0), 0x00, 0x11, 0x08});
        Uint16(height);
        Uint16(width);
        Bytes({0x03, firstComponent, lumaSampling, 0x00});
        Bytes({static_cast<std::uint8_t>(firstComponent + 1), 0x11, chromaTable});
        Bytes({static_cast<std::uint8_t>(firstComponent + 2), 0x11, chromaTable});
    }
    void HuffmanTables()
    {
        for (const jpeg::HuffmanTable& table : jpeg::kTypicalHuffmanTables)
        {
            Bytes({0xFF, 0xC4});
            Uint16(19 + table.values.size());
            m_out.push_back(table.classAndId);
            Bytes(table.counts);
            Bytes(table.values);
        }
    }
    void Scan(std::uint8_t firstComponent)
    {
        Bytes({0xFF, 0xDA, 0x00, 0x0C, 0x03, firstComponent, 0x00});
        Bytes({static_cast<std::uint8_t>(firstComponent + 1), 0x11});
        Bytes({static_cast<std::uint8_t>(firstComponent + 2), 0x11, 0x00, 0x3F, 0x00});
    }

    std::vector<std::uint8_t> Take() { return std::move(m_out); }

private:
    std::vector<std::uint8_t> m_out;
};
}

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CJpegRTPMediaParser::ProcessPacket(const CRTPPacket& packet)
{
    try
    {
        if (!CheckSequence(packet))
            Reset();
        const std::optional<std::span<const std::uint8_t>> payload = GetMediaPayload(packet);
        if (!payload || !CollectPayload(*payload, packet.GetTimestamp()) || !CheckBufferSize())
        {
            Reset();
            return;
        }
        if (packet.GetMarker() && !m_waitingForFirstFragment)
        {
            FinishPicture(packet.GetTimestamp());
            // The next picture starts with its own first fragment.
            m_waitingForFirstFragment = true;
            m_frame.clear();
        }
    }
    catch (const std::exception&)
    {
        // No memory for the picture, or the channel failed while taking it.
        Reset();
    }
}

void CJpegRTPMediaParser::Reset()
{
    m_waitingForFirstFragment = true;
    m_width = 0;
    m_height = 0;
    m_frame.clear();
}

bool CJpegRTPMediaParser::CollectPayload(std::span<const std::uint8_t> payload, std::uint32_t rtpTimestamp)
{
    if (payload.size() < kMainHeaderSize)
        return false;
    const std::uint32_t offset = ReadUint24(payload.subspan(1, 3));
    if (offset == 0)
    {
        m_pictureTimestamp = rtpTimestamp;
        return StartPicture(payload);
    }
    // A fragment of a picture whose start was lost, or one that leaves a hole or overlaps what
    // was collected, would give the host a damaged picture.
    if (m_waitingForFirstFragment || offset != m_frame.size() || rtpTimestamp != m_pictureTimestamp ||
        payload.size() < m_fragmentHeaderSize)
        return false;
    const std::span<const std::uint8_t> data = payload.subspan(m_fragmentHeaderSize);
    m_frame.insert(m_frame.end(), data.begin(), data.end());
    return true;
}

bool CJpegRTPMediaParser::StartPicture(std::span<const std::uint8_t> payload)
{
    // An unfinished picture whose last fragment was lost is dropped.
    m_frame.clear();
    m_waitingForFirstFragment = true;

    PictureHeader picture;
    picture.type = payload[4];
    picture.q = payload[5];
    picture.width = PictureDimension(payload[6]);
    picture.height = PictureDimension(payload[7]);
    if (picture.type >= kFirstDynamicType)
        return false;
    std::size_t position = kMainHeaderSize;
    picture.hasRestartHeader = picture.type >= kFirstRestartType;
    if (picture.hasRestartHeader)
    {
        if (payload.size() < position + kRestartHeaderSize)
            return false;
        picture.restartInterval = ReadUint16(payload.subspan(position, 2));
        position += kRestartHeaderSize;
    }
    if (picture.q >= kFirstInBandQ)
    {
        if (payload.size() < position + kQuantizationHeaderSize)
            return false;
        const std::uint8_t mbz = payload[position];
        picture.precision = payload[position + 1];
        const std::size_t length = ReadUint16(payload.subspan(position + 2, 2));
        position += kQuantizationHeaderSize;
        if (payload.size() - position < length)
            return false;
        TableSet* reusable = picture.q == kPerPictureQ ? nullptr : &m_tablesByQ[picture.q - kFirstInBandQ];
        // Without tables in the picture and none kept for its Q (or with a header that breaks the
        // must-be-zero rule), the base tables of RFC 2435 stand in.
        if (length == 0 && reusable != nullptr && !reusable->tables.empty())
        {
            picture.precision = reusable->precision;
            picture.tables = reusable->tables;
        }
        else if (mbz == 0 && length != 0)
        {
            // Bit i of the precision marks table i as 16-bit (128 bytes); one or two tables
            // must fill the length exactly, else the DQT segments would be malformed.
            const std::size_t first = (picture.precision & 1) != 0 ? 2 * jpeg::kBlockSize : jpeg::kBlockSize;
            const std::size_t second = (picture.precision & 2) != 0 ? 2 * jpeg::kBlockSize : jpeg::kBlockSize;
            if (length != first && length != first + second)
                return false;
            const std::span<const std::uint8_t> tables = payload.subspan(position, length);
            picture.tables.assign(tables.begin(), tables.end());
            if (reusable != nullptr)
                *reusable = TableSet{picture.precision, picture.tables};
        }
        position += length;
    }
    picture.size = position;

    m_fragmentHeaderSize =
        static_cast<std::uint32_t>(kMainHeaderSize + (picture.hasRestartHeader ? kRestartHeaderSize : 0));
    m_picture = std::move(picture);
    const std::span<const std::uint8_t> data = payload.subspan(position);
    m_frame.assign(data.begin(), data.end());
    m_waitingForFirstFragment = false;
    return true;
}

std::vector<std::uint8_t> CJpegRTPMediaParser::BuildHeader() const
{
    const PictureHeader& picture = m_picture;
    SegmentWriter out;
    out.Bytes({0xFF, 0xD8});
    if (picture.q < kFirstInBandQ)
    {
        if (picture.hasRestartHeader)
            out.RestartInterval(picture.restartInterval);
        const std::array<std::uint8_t, 2 * jpeg::kBlockSize> tables = jpeg::QuantizationTablesFromT81(picture.q);
        out.QuantizationTable(0x00, std::span(tables).first(jpeg::kBlockSize));
        out.QuantizationTable(0x01, std::span(tables).subspan(jpeg::kBlockSize));
        // Types 0 and 64 are 4:2:2 (two luminance blocks across), the others 4:2:0.
        const std::uint8_t sampling = picture.type % kFirstRestartType == 0 ? 0x21 : 0x22;
        out.Frame(picture.width, picture.height, 0, sampling, 0x01);
        out.HuffmanTables();
        out.Scan(0);
        return out.Take();
    }

    // RFC 2435 Appendix B, with a JFIF marker.
    out.Bytes(
        {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00});
    if (picture.restartInterval != 0)
        out.RestartInterval(picture.restartInterval);
    bool twoTables = true;
    bool sixteenBit = false;
    if (picture.tables.empty())
    {
        const std::array<std::uint8_t, 2 * jpeg::kBlockSize> tables = jpeg::QuantizationTablesFromRfc(picture.q);
        out.QuantizationTable(0x00, std::span(tables).first(jpeg::kBlockSize));
        out.QuantizationTable(0x01, std::span(tables).subspan(jpeg::kBlockSize));
    }
    else
    {
        const bool wideFirst = (picture.precision & 1) != 0;
        const std::size_t first = wideFirst ? 2 * jpeg::kBlockSize : jpeg::kBlockSize;
        const std::span<const std::uint8_t> tables(picture.tables);
        out.QuantizationTable(wideFirst ? 0x10 : 0x00, tables.first(first));
        twoTables = tables.size() > first;
        const bool wideSecond = twoTables && (picture.precision & 2) != 0;
        if (twoTables)
            out.QuantizationTable(wideSecond ? 0x11 : 0x01, tables.subspan(first));
        sixteenBit = wideFirst || wideSecond;
    }
    const std::uint8_t sampling = (picture.type & 1) == 0 ? 0x21 : 0x22;
    out.Frame(picture.width, picture.height, 1, sampling, twoTables ? 0x01 : 0x00, sixteenBit);
    out.HuffmanTables();
    out.Scan(1);
    return out.Take();
}

void CJpegRTPMediaParser::FinishPicture(std::uint32_t rtpTimestamp)
{
    IMediaParserClient* client = GetClient();
    ipcapture::IIPMediaAllocator* allocator = GetDriver()->GetMediaAllocator();
    if (client == nullptr || allocator == nullptr)
        return;

    // A picture without image data is no picture; any other size is.
    if (m_frame.empty())
    {
        Reset();
        return;
    }
    const std::size_t collected = m_picture.size + m_frame.size();
    const std::vector<std::uint8_t> header = BuildHeader();
    m_width = m_picture.width;
    m_height = m_picture.height;
    // Strict decoders take a picture without an end marker for a truncated one. Entropy-coded
    // data stuffs every FF byte, so FF D9 at its end can only be the marker itself.
    const bool hasEndMarker =
        m_frame.size() >= 2 && std::equal(std::begin(kEndOfImage), std::end(kEndOfImage), m_frame.end() - 2);
    const std::size_t size = header.size() + m_frame.size() + (hasEndMarker ? 0 : sizeof kEndOfImage);

    const std::string streamName = client->GetStreamName();
    CMediaFrame frame = CMediaFrame::Allocate(allocator, ipcapture::kTypeCodeJpeg,
                                              static_cast<std::uint32_t>(collected + kHeaderSpace), streamName.c_str());
    if (!frame)
        return;
    const std::span<std::uint8_t> out = frame.Data();
    if (out.size() < size)
    {
        Reset();
        return;
    }
    auto end = std::copy(header.begin(), header.end(), out.begin());
    end = std::copy(m_frame.begin(), m_frame.end(), end);
    if (!hasEndMarker)
        std::copy(std::begin(kEndOfImage), std::end(kEndOfImage), end);

    FrameDescription description;
    description.width = m_width;
    description.height = m_height;
    description.dataSize = static_cast<std::uint32_t>(size);
    client->ConvertTimeStamp(rtpTimestamp, description.timestamp);
    frame.Describe(description);
    if (!frame.Deliver([client](ipcapture::IIPMediaBuffer* buffer) { return client->OnFrame(buffer); }))
        Reset();
}
}
