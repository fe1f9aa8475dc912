// A driver, a channel and RTP packets for the depacketizer tests: the host kit receives the
// frames, the fixtures recorded from GStreamer are read from tests/data/h264/.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/driver_services.h"
#include "hostkit/host_kit.h"
#include "media/h264_depacketizer.h"
#include "media/media_parser_client.h"
#include "rtp/rtp_packet.h"
#include "runtime/format_string.h"
#include "support/child_process.h"
#include "support/host_fixture.h"
#include "support/recorded_datagrams.h"
#include "text/base64.h"

namespace kestrav::testing
{
using Bytes = std::vector<std::uint8_t>;

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// A NAL unit of `size` bytes: the header, then filler bytes that never form a start code.
inline Bytes NalUnit(std::uint8_t header, std::size_t size)
{
    Bytes unit(size, 0xAB);
    unit[0] = header;
    return unit;
}

// The driver services the parser uses: the kit's allocator and a log kept for assertions.
class TestDriver final : public IDriver
{
public:
    explicit TestDriver(hostkit::HostKit& kit) : m_kit(kit)
    {
        m_device.address = "192.0.2.7";
        m_device.port = 8080;
    }

    std::string GetDeviceAddress() override { return "192.0.2.7:8080"; }
    void SendDebugMessage(unsigned level, const char* format, ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        lines.emplace_back(level, FormatStringV(format, arguments));
        va_end(arguments);
    }
    std::string GetDriverName() override { return "BrantelIPCapture"; }
    std::string GetHostDirectory() override { return "/tmp/"; }
    const DEVICE_INFO* GetDeviceInfo() override { return &m_device; }
    std::pair<std::uint32_t, std::uint32_t> GetIOCounts() override { return {0, 0}; }
    ipcapture::IIPMediaAllocator* GetMediaAllocator() override { return withAllocator ? &m_kit.Allocator() : nullptr; }
    std::int32_t GetVideoStandard() override { return 0; }
    std::int32_t GetDefaultCodec() override { return kCodecH264; }
    std::uint32_t GetChannelCount() override { return 1; }
    std::string GetParamString(std::int32_t) override { return {}; }
    std::int32_t GetParamInt(std::int32_t) override { return kMissingParamInt; }

    bool withAllocator = true;
    std::vector<std::pair<unsigned, std::string>> lines;

private:
    hostkit::HostKit& m_kit;
    DEVICE_INFO m_device;
};

// Plays the channel: frames go to the kit's sink; the frame time carries the RTP timestamp in
// its fields so that tests can see which packet's time a frame got.
class TestClient final : public IMediaParserClient
{
public:
    explicit TestClient(hostkit::HostKit& kit) : m_kit(kit) {}

    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override { return m_kit.Sink().DeliverFrame(frame); }
    std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() override { return {0, 0}; }
    std::string GetStreamName() override { return "rtsph264_main"; }
    void ConvertTimeStamp(std::uint32_t rtpTimestamp, ipcapture::SystemTime& time) override
    {
        time = {};
        time.wYear = 2026;
        time.wMonth = static_cast<std::uint16_t>(rtpTimestamp >> 16);
        time.wMilliseconds = static_cast<std::uint16_t>(rtpTimestamp);
    }

    static std::uint32_t RtpTimestampOf(const hostkit::DeliveredFrame& frame)
    {
        return frame.timestamp ? std::uint32_t{frame.timestamp->wMonth} << 16 | frame.timestamp->wMilliseconds : 0;
    }

private:
    hostkit::HostKit& m_kit;
};

inline Bytes RtpDatagram(std::uint16_t sequence, std::uint32_t timestamp, bool marker, const Bytes& payload)
{
    Bytes datagram = {
        0x80,                                                // V=2, no padding, extension or CSRC
        static_cast<std::uint8_t>((marker ? 0x80 : 0) | 96), // M, PT=96
        static_cast<std::uint8_t>(sequence >> 8),            // sequence number
        static_cast<std::uint8_t>(sequence),                 //
        static_cast<std::uint8_t>(timestamp >> 24),          // timestamp
        static_cast<std::uint8_t>(timestamp >> 16),          //
        static_cast<std::uint8_t>(timestamp >> 8),           //
        static_cast<std::uint8_t>(timestamp),                //
        0x12,                                                // SSRC
        0x34,                                                //
        0x56,                                                //
        0x78,                                                //
    };
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return datagram;
}

// A depacketizer wired to the kit, the way a channel holds it, fed a gap-free stream of packets
// from `firstSequence` on.
template <typename Parser, std::uint16_t firstSequence> class ParserFixture : public HostFixture
{
protected:
    ParserFixture() { parser.SetClient(&client); }

    void Feed(const Bytes& datagram)
    {
        CRTPPacket packet;
        ASSERT_TRUE(packet.Parse(datagram));
        parser.ProcessPacket(packet);
    }
    // The next packet of a gap-free stream.
    void Send(const Bytes& payload, bool marker, std::uint32_t timestamp = 3000)
    {
        Feed(RtpDatagram(m_nextSequence++, timestamp, marker, payload));
    }
    void SkipSequenceNumber() { ++m_nextSequence; }
    void SetNextSequenceNumber(std::uint16_t sequence) { m_nextSequence = sequence; }

    std::vector<hostkit::DeliveredFrame> Frames() { return kit.Sink().Frames(); }

    TestDriver driver{kit};
    TestClient client{kit};
    Parser parser{&driver};

private:
    std::uint16_t m_nextSequence = firstSequence;
};

using DepacketizerFixture = ParserFixture<CH264RTPMediaParser, 1000>;

// One stream recorded by tests/data/h264/record.py.
struct Fixture
{
    std::vector<Bytes> datagrams;
    ParameterSets sprop;
};

// tests/data as this program names it (under Wine the build's Linux path is on drive Z:).
inline std::filesystem::path RecordedDataDirectory()
{
    return LocalPath(BRANTEL_TEST_DATA_DIR);
}

inline std::filesystem::path FixtureDirectory()
{
    return RecordedDataDirectory() / "h264";
}

inline std::optional<Fixture> LoadFixture(const std::string& name)
{
    const auto datagrams = ReadRecordedDatagrams(FixtureDirectory() / (name + ".rtp"));
    std::ifstream sprop(FixtureDirectory() / (name + ".sprop"));
    if (!datagrams || !sprop)
        return std::nullopt;
    Fixture fixture;
    fixture.datagrams = *datagrams;
    std::string text;
    std::getline(sprop, text);
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        return std::nullopt;
    fixture.sprop.first = Base64Decode(text.substr(0, comma), kParameterSetCapacity).value_or(Bytes{});
    fixture.sprop.second = Base64Decode(text.substr(comma + 1), kParameterSetCapacity).value_or(Bytes{});
    return fixture;
}
}
