// CH264RTPMediaParser::ProcessPacket over any sequence of packets. The input is a series of
// chunks, each a 16-bit big-endian length and that many bytes: a control byte, then an RTP
// payload. The control byte sets the marker bit, a sequence gap, RTP padding, a Reset, a host
// that refuses the frame or has no buffer, or makes the chunk the session's sequence parameter
// set. Whatever arrives, every host buffer is released, every frame is a whole Annex B access
// unit with its trailer inside its buffer, and after a start, a Reset, a gap or a refused frame
// the first frame delivered is a key frame with a picture size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver_services.h"
#include "media/h264_depacketizer.h"
#include "media/media_parser_client.h"
#include "rtsp/rtp_packet.h"

namespace
{
using Bytes = std::vector<std::uint8_t>;
using namespace kestrav;

constexpr std::uint8_t kMarker = 0x80;
constexpr std::uint8_t kGap = 0x40;
constexpr std::uint8_t kPadding = 0x20;
constexpr std::uint8_t kReset = 0x10;
constexpr std::uint8_t kRefuse = 0x08;
constexpr std::uint8_t kNoBuffer = 0x04;
constexpr std::uint8_t kSessionSets = 0x03;

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// What the host expects next: after a start, a Reset, a gap or a refused frame, a key frame.
struct Expectation
{
    bool needKeyFrame = true;
    bool refuse = false;
    bool noBuffer = false;
};

class Buffer final : public ipcapture::IIPMediaBuffer
{
public:
    explicit Buffer(std::uint32_t capacity) : data(capacity, 0xCD) {}
    std::uint32_t GetCapacity() const override { return static_cast<std::uint32_t>(data.size()); }
    std::uint8_t* GetData() override { return data.data(); }
    std::uint32_t GetDataSize() const override { return size; }
    void SetDataSize(std::uint32_t bytes) override
    {
        Check(bytes <= data.size());
        size = bytes;
    }
    void MarkBuffer() override { Check(false); }
    void SetTimestamp(const ipcapture::SystemTime* time) override { Check(time != nullptr); }
    bool GetTimestamp(ipcapture::SystemTime*) const override { return false; }
    bool IsMarked() const override { return false; }
    std::uint32_t GetTypeCode() const override { return typeCode; }
    void SetTypeCode(std::uint32_t code) override { typeCode = code; }
    std::uint32_t GetHeight() const override { return height; }
    void SetHeight(std::uint32_t pixels) override { height = pixels; }
    std::uint32_t GetWidth() const override { return width; }
    void SetWidth(std::uint32_t pixels) override { width = pixels; }
    std::uint32_t GetSizeClass() const override { return 0; }
    void SetSizeClass(std::uint32_t) override {}

    Bytes data;
    std::uint32_t size = 0;
    std::uint32_t typeCode = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

class Allocator final : public ipcapture::IIPMediaAllocator
{
public:
    explicit Allocator(Expectation& expectation) : m_expectation(expectation) {}
    ~Allocator() override { Check(outstanding == 0); }
    std::uint32_t GetOutstandingCount() const override { return outstanding; }
    ipcapture::IIPMediaBuffer* AllocateBuffer(std::uint32_t typeCode, std::uint32_t capacity,
                                              const char* owner) override
    {
        Check(owner != nullptr && std::string(owner) == "fuzz");
        // The wait for a key frame ends when one is offered, whether or not the host has a buffer.
        if (typeCode == ipcapture::kTypeCodeH264)
            m_expectation.needKeyFrame = false;
        else
            Check(typeCode == ipcapture::kTypeCodeI264 && !m_expectation.needKeyFrame);
        if (m_expectation.noBuffer)
            return nullptr;
        ++outstanding;
        return new Buffer(capacity);
    }
    void ReservedSlot3() override { Check(false); }
    void ReservedSlot4() override { Check(false); }
    void ReservedSlot5() override { Check(false); }
    void ReleaseBuffer(ipcapture::IIPMediaBuffer* buffer) override
    {
        Check(buffer != nullptr && outstanding > 0);
        --outstanding;
        delete static_cast<Buffer*>(buffer);
    }

    std::uint32_t outstanding = 0;

private:
    Expectation& m_expectation;
};

class Driver final : public IDriver
{
public:
    explicit Driver(Expectation& expectation) : allocator(expectation) {}
    std::string GetDeviceAddress() override { return "192.0.2.1:80"; }
    void SendDebugMessage(unsigned, const char*, ...) override {}
    std::string GetDriverName() override { return "BrantelIPCapture"; }
    std::string GetHostDirectory() override { return "/"; }
    const DEVICE_INFO* GetDeviceInfo() override { return &device; }
    std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override { return {0, 0}; }
    ipcapture::IIPMediaAllocator* GetMediaAllocator() override { return &allocator; }
    std::int32_t GetVideoStandard() override { return 0; }
    std::int32_t GetDefaultCodec() override { return kCodecH264; }
    std::uint32_t GetChannelCount() override { return 1; }
    std::string GetParamString(std::int32_t) override { return {}; }
    std::int32_t GetParamInt(std::int32_t) override { return kMissingParamInt; }

    DEVICE_INFO device;
    Allocator allocator;
};

class Client final : public IMediaParserClient
{
public:
    explicit Client(Expectation& expectation) : m_expectation(expectation) {}
    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override
    {
        auto* buffer = static_cast<Buffer*>(frame);
        const std::span<const std::uint8_t> data(buffer->data.data(), buffer->size);
        static constexpr std::uint8_t kStart[] = {0x00, 0x00, 0x01};
        Check(data.size() >= sizeof kStart + sizeof CH264RTPMediaParser::kFrameTrailer);
        Check(std::memcmp(data.data(), kStart, sizeof kStart) == 0);
        Check(std::memcmp(data.data() + data.size() - sizeof CH264RTPMediaParser::kFrameTrailer,
                          CH264RTPMediaParser::kFrameTrailer, sizeof CH264RTPMediaParser::kFrameTrailer) == 0);
        Check(data.size() <= CRTPMediaParser::kFrameBufferLimit + sizeof CH264RTPMediaParser::kFrameTrailer);
        Check(buffer->data.size() == CRTPMediaParser::GetBufferCapacity(data.size()));
        if (buffer->typeCode == ipcapture::kTypeCodeH264)
            Check(buffer->width > 0 && buffer->width <= 16896 && buffer->height > 0 && buffer->height <= 16896);
        Check(!m_expectation.needKeyFrame);
        if (m_expectation.refuse)
            m_expectation.needKeyFrame = true;
        return !m_expectation.refuse;
    }
    std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() override { return {0, 0}; }
    std::string GetStreamName() override { return "fuzz"; }
    void ConvertTimeStamp(std::uint32_t, ipcapture::SystemTime& time) override { time = {}; }

private:
    Expectation& m_expectation;
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Expectation expectation;
    Driver driver(expectation);
    Client client(expectation);
    {
        CH264RTPMediaParser parser(&driver);
        parser.SetClient(&client);
        std::span<const std::uint8_t> input(data, size);
        std::uint16_t sequence = 0xFFF0;
        while (input.size() >= 3)
        {
            const std::size_t length = std::min<std::size_t>(std::size_t{input[0]} << 8 | input[1], input.size() - 2);
            const std::span<const std::uint8_t> chunk = input.subspan(2, length);
            input = input.subspan(2 + length);
            if (chunk.empty())
                continue;
            const std::uint8_t control = chunk[0];
            const std::span<const std::uint8_t> payload = chunk.subspan(1);

            if ((control & kSessionSets) == kSessionSets)
            {
                parser.SetParameterSets({Bytes(payload.begin(), payload.end()), {0x68, 0xCE, 0x38, 0x80}, {}});
                continue;
            }
            if ((control & kReset) != 0)
            {
                parser.Reset();
                expectation.needKeyFrame = true;
            }
            if ((control & kGap) != 0)
            {
                ++sequence;
                expectation.needKeyFrame = true;
            }
            expectation.refuse = (control & kRefuse) != 0;
            expectation.noBuffer = (control & kNoBuffer) != 0;

            Bytes datagram = {static_cast<std::uint8_t>(0x80 | ((control & kPadding) != 0 ? 0x20 : 0)),
                              static_cast<std::uint8_t>(((control & kMarker) != 0 ? 0x80 : 0) | 96),
                              static_cast<std::uint8_t>(sequence >> 8),
                              static_cast<std::uint8_t>(sequence),
                              0x00,
                              0x01,
                              0x5F,
                              0x90,
                              0x12,
                              0x34,
                              0x56,
                              0x78};
            datagram.insert(datagram.end(), payload.begin(), payload.end());
            ++sequence;
            kestrav::CRTPPacket packet;
            if (!packet.Parse(datagram))
                continue;
            parser.ProcessPacket(packet);
            Check(driver.allocator.outstanding == 0);
        }
    }
    return 0;
}
