// CJpegRTPMediaParser::ProcessPacket over any sequence of packets. The input is a series of
// chunks, each a 16-bit big-endian length and that many bytes: a control byte, then an RTP/JPEG
// payload. The control byte sets the marker bit, a sequence gap, RTP padding, a Reset, a host
// that refuses the picture or has no buffer, and a new RTP timestamp. Whatever arrives, every
// host buffer is released, nothing is written past a buffer, and every picture delivered is a
// JPEG of a known size that starts with the start-of-image marker and ends with the end marker.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "fuzz_host.h"
#include "media/jpeg_depacketizer.h"
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
constexpr std::uint8_t kNextTimestamp = 0x02;

struct HostMood
{
    bool refuse = false;
    bool noBuffer = false;
};

class Client final : public IMediaParserClient
{
public:
    explicit Client(const HostMood& mood) : m_mood(mood) {}
    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override
    {
        auto* buffer = static_cast<fuzz::Buffer*>(frame);
        const std::span<const std::uint8_t> data(buffer->data.data(), buffer->size);
        Check(buffer->typeCode == ipcapture::kTypeCodeJpeg);
        Check(data.size() >= 4 && data[0] == 0xFF && data[1] == 0xD8);
        Check(data[data.size() - 2] == 0xFF && data[data.size() - 1] == 0xD9);
        Check(buffer->width > 0 && buffer->height > 0);
        return !m_mood.refuse;
    }
    std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() override { return {0, 0}; }
    std::string GetStreamName() override { return "fuzz"; }
    void ConvertTimeStamp(std::uint32_t, ipcapture::SystemTime& time) override { time = {}; }

private:
    const HostMood& m_mood;
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    HostMood mood;
    fuzz::Driver driver(
        [&mood](std::uint32_t typeCode)
        {
            Check(typeCode == ipcapture::kTypeCodeJpeg);
            return !mood.noBuffer;
        });
    Client client(mood);
    {
        CJpegRTPMediaParser parser(&driver);
        parser.SetClient(&client);
        std::span<const std::uint8_t> input(data, size);
        std::uint16_t sequence = 0xFFF0;
        std::uint32_t timestamp = 90000;
        while (input.size() >= 3)
        {
            const std::size_t length = std::min<std::size_t>(std::size_t{input[0]} << 8 | input[1], input.size() - 2);
            const std::span<const std::uint8_t> chunk = input.subspan(2, length);
            input = input.subspan(2 + length);
            if (chunk.empty())
                continue;
            const std::uint8_t control = chunk[0];
            const std::span<const std::uint8_t> payload = chunk.subspan(1);
            if ((control & kReset) != 0)
                parser.Reset();
            if ((control & kGap) != 0)
                ++sequence;
            if ((control & kNextTimestamp) != 0)
                timestamp += 3600;
            mood.refuse = (control & kRefuse) != 0;
            mood.noBuffer = (control & kNoBuffer) != 0;

            const Bytes datagram = fuzz::MakeDatagram((control & kMarker) != 0, (control & kPadding) != 0, 26,
                                                      sequence++, timestamp, Bytes(payload.begin(), payload.end()));
            CRTPPacket packet;
            if (!packet.Parse(datagram))
                continue;
            parser.ProcessPacket(packet);
            Check(driver.allocator.outstanding == 0);
        }
    }
    return 0;
}
