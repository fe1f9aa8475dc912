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

#include "fuzz_host.h"
#include "media/h264_depacketizer.h"
#include "media/media_parser_client.h"
#include "rtp/rtp_packet.h"

namespace
{
using namespace kestrav;
using fuzz::Bytes;
using fuzz::Check;

constexpr std::uint8_t kMarker = 0x80;
constexpr std::uint8_t kGap = 0x40;
constexpr std::uint8_t kPadding = 0x20;
constexpr std::uint8_t kReset = 0x10;
constexpr std::uint8_t kRefuse = 0x08;
constexpr std::uint8_t kNoBuffer = 0x04;
constexpr std::uint8_t kSessionSets = 0x03;

// What the host expects next: after a start, a Reset, a gap or a refused frame, a key frame.
struct Expectation
{
    bool needKeyFrame = true;
    bool refuse = false;
    bool noBuffer = false;
};

class Client final : public IMediaParserClient
{
public:
    explicit Client(Expectation& expectation) : m_expectation(expectation) {}
    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override
    {
        auto* buffer = static_cast<fuzz::Buffer*>(frame);
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
    // The wait for a key frame ends when one is offered, whether or not the host has a buffer.
    fuzz::Driver driver(
        [&expectation](std::uint32_t typeCode)
        {
            if (typeCode == ipcapture::kTypeCodeH264)
                expectation.needKeyFrame = false;
            else
                Check(typeCode == ipcapture::kTypeCodeI264 && !expectation.needKeyFrame);
            return !expectation.noBuffer;
        });
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

            const Bytes datagram = fuzz::MakeDatagram((control & kMarker) != 0, (control & kPadding) != 0, 96, sequence,
                                                      0x00015F90, Bytes(payload.begin(), payload.end()));
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
