// How much of a core one live stream costs in the depacketizers: the recorded GStreamer streams of
// tests/data are fed again and again through CH264RTPMediaParser and CJpegRTPMediaParser into the
// host kit's allocator, and the packets, frames and bytes per second of CPU time are printed.
//
//   depacketizer_bench [SECONDS-PER-STREAM]   (default 2)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/driver_services.h"
#include "hostkit/host_media_allocator.h"
#include "media/h264_depacketizer.h"
#include "media/jpeg_depacketizer.h"
#include "media/media_parser_client.h"
#include "recorded_datagrams.h"
#include "rtp/rtp_packet.h"
#include "stub_driver.h"
#include "text/base64.h"

namespace
{
using namespace kestrav;
using Bytes = std::vector<std::uint8_t>;

// The recorded datagrams of one stream; none when the file cannot be read.
std::vector<Bytes> LoadDatagrams(const std::filesystem::path& path)
{
    return testing::ReadRecordedDatagrams(path).value_or(std::vector<Bytes>{});
}

// A host's allocator behind the driver services the depacketizers use.
struct BenchHost
{
    hostkit::HostMediaAllocator allocator;
    testing::StubDriver driver{&allocator};
};

class CountingClient final : public IMediaParserClient
{
public:
    bool OnFrame(ipcapture::IIPMediaBuffer* frame) override
    {
        ++frames;
        bytes += frame->GetDataSize();
        return true;
    }
    std::pair<std::uint32_t, std::uint32_t> GetFrameParameters() override { return {0, 0}; }
    std::string GetStreamName() override { return "bench"; }
    void ConvertTimeStamp(std::uint32_t, ipcapture::SystemTime& time) override { time = {}; }

    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
};

// Sequence numbers are rewritten on every pass so that the parser sees one endless stream.
void Run(const char* name, CRTPMediaParser& parser, CountingClient& client, const std::vector<Bytes>& datagrams,
         double seconds)
{
    std::uint16_t sequence = 0;
    std::uint64_t packets = 0;
    std::vector<Bytes> stream = datagrams;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds)
    {
        for (Bytes& datagram : stream)
        {
            datagram[2] = static_cast<std::uint8_t>(sequence >> 8);
            datagram[3] = static_cast<std::uint8_t>(sequence);
            ++sequence;
            CRTPPacket packet;
            if (packet.Parse(datagram))
                parser.ProcessPacket(packet);
            ++packets;
        }
    }
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf("%-28s %10.0f packets/s %9.0f frames/s %9.1f MB/s of frames (CPU %.2f s)\n", name, packets / cpu,
                client.frames / cpu, client.bytes / cpu / 1e6, cpu);
}

void BenchH264(const std::string& name, double seconds)
{
    const std::filesystem::path base = std::filesystem::path(BRANTEL_DATA_DIR) / "h264" / name;
    const std::vector<Bytes> datagrams = LoadDatagrams(base.string() + ".rtp");
    std::ifstream spropFile(base.string() + ".sprop");
    std::string sprop;
    std::getline(spropFile, sprop);
    BenchHost host;
    CountingClient client;
    CH264RTPMediaParser parser(&host.driver);
    parser.SetClient(&client);
    const std::size_t comma = sprop.find(',');
    if (comma != std::string::npos)
    {
        ParameterSets sets;
        sets.first = Base64Decode(sprop.substr(0, comma), kParameterSetCapacity).value_or(Bytes{});
        sets.second = Base64Decode(sprop.substr(comma + 1), kParameterSetCapacity).value_or(Bytes{});
        parser.SetParameterSets(sets);
    }
    Run(("h264 " + name).c_str(), parser, client, datagrams, seconds);
}

void BenchJpeg(const std::string& name, double seconds)
{
    const std::vector<Bytes> datagrams =
        LoadDatagrams(std::filesystem::path(BRANTEL_DATA_DIR) / "jpeg" / (name + ".rtp"));
    BenchHost host;
    CountingClient client;
    CJpegRTPMediaParser parser(&host.driver);
    parser.SetClient(&client);
    Run(("jpeg " + name).c_str(), parser, client, datagrams, seconds);
}
}

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(seconds > 0))
    {
        std::fprintf(stderr, "usage: depacketizer_bench [SECONDS-PER-STREAM]\n");
        return 2;
    }
    for (const char* name :
         {"baseline_352x288_inband", "main_640x360_slices", "high_1280x720_stapa", "high_1920x1080_sprop"})
        BenchH264(name, seconds);
    for (const char* name : {"q50_320x240", "q85_320x240"})
        BenchJpeg(name, seconds);
    return 0;
}
