// How much of a core one live stream costs in the depacketizers: the recorded GStreamer streams of
// tests/data are fed again and again through CH264RTPMediaParser and CJpegRTPMediaParser into the
// host kit's allocator. Printed per stream: packets and RTP megabytes per CPU second, the same bytes
// copied with memcpy per CPU second, and the depacketizer's time as a multiple of that copy (median
// of a few rounds, with their spread), and frames per CPU second.
//
//   depacketizer_bench [SECONDS-PER-STREAM]   (default 2)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Rounds of each measurement; the median is printed, so one round disturbed by the rest of the machine does not
// move the figure, and the spread of the ratio shows how steady it was.
constexpr int kRounds = 5;

double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// CPU seconds of one pass of `pass`, run until the round has taken `seconds`.
template <typename Pass> double SecondsPerPass(Pass&& pass, double seconds)
{
    const double start = CpuSeconds();
    std::uint64_t passes = 0;
    double elapsed = 0.0;
    do
    {
        pass();
        ++passes;
        elapsed = CpuSeconds() - start;
    } while (elapsed < seconds);
    return elapsed / static_cast<double>(passes);
}

// What the depacketizer is compared with: the same bytes copied once with memcpy into a buffer of the size of the
// largest frame, starting again at every marker bit, as the least any frame assembly has to do.
class CopyBaseline
{
public:
    explicit CopyBaseline(const std::vector<Bytes>& datagrams) : datagrams_(datagrams)
    {
        std::size_t frame = 0;
        std::size_t largest = 0;
        for (const Bytes& datagram : datagrams)
        {
            frame += datagram.size();
            largest = std::max(largest, frame);
            if (EndsFrame(datagram))
                frame = 0;
        }
        frame_.resize(largest);
    }

    void Pass()
    {
        std::size_t at = 0;
        for (const Bytes& datagram : datagrams_)
        {
            std::memcpy(frame_.data() + at, datagram.data(), datagram.size());
            at = EndsFrame(datagram) ? 0 : at + datagram.size();
        }
        // Keeps the compiler from dropping copies whose result nobody reads.
        check_ = check_ + frame_[0];
    }

private:
    static bool EndsFrame(const Bytes& datagram) { return datagram.size() > 1 && (datagram[1] & 0x80) != 0; }

    const std::vector<Bytes>& datagrams_;
    Bytes frame_;
    volatile std::uint8_t check_ = 0;
};

// Sequence numbers are rewritten on every pass so that the parser sees one endless stream.
void Run(const char* name, CRTPMediaParser& parser, CountingClient& client, const std::vector<Bytes>& datagrams,
         double seconds)
{
    if (datagrams.empty())
    {
        std::printf("%-30s (no recorded datagrams)\n", name);
        return;
    }
    std::uint16_t sequence = 0;
    std::vector<Bytes> stream = datagrams;
    std::uint64_t bytes = 0;
    for (const Bytes& datagram : datagrams)
        bytes += datagram.size();
    const auto depacketize = [&]
    {
        for (Bytes& datagram : stream)
        {
            datagram[2] = static_cast<std::uint8_t>(sequence >> 8);
            datagram[3] = static_cast<std::uint8_t>(sequence);
            ++sequence;
            CRTPPacket packet;
            if (packet.Parse(datagram))
                parser.ProcessPacket(packet);
        }
    };
    CopyBaseline baseline(datagrams);
    const auto copy = [&baseline] { baseline.Pass(); };

    // The parser warms up to its first frame with parameter sets before anything is measured; the next pass
    // counts the frames of one pass.
    depacketize();
    const std::uint64_t framesBefore = client.frames;
    depacketize();
    const double framesPerPass = static_cast<double>(client.frames - framesBefore);
    std::vector<double> parsing;
    std::vector<double> copying;
    std::vector<double> ratios;
    const double roundSeconds = seconds / kRounds / 2;
    for (int round = 0; round < kRounds; ++round)
    {
        parsing.push_back(SecondsPerPass(depacketize, roundSeconds));
        copying.push_back(SecondsPerPass(copy, roundSeconds));
        ratios.push_back(parsing.back() / copying.back());
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%-30s %8zu %10.0f %10.0f %11.0f %8.1f  (%.1f-%.1f) %10.0f\n", name, datagrams.size(),
                static_cast<double>(datagrams.size()) / Median(parsing), megabytes / Median(parsing),
                megabytes / Median(copying), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()), framesPerPass / Median(parsing));
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
    std::printf("%-30s %8s %10s %10s %11s %8s %9s %10s\n", "recorded stream", "packets", "packets/s", "RTP MB/s",
                "memcpy MB/s", "x memcpy", "(spread)", "frames/s");
    for (const char* name :
         {"baseline_352x288_inband", "main_640x360_slices", "high_1280x720_stapa", "high_1920x1080_sprop"})
        BenchH264(name, seconds);
    for (const char* name : {"q50_320x240", "q85_320x240"})
        BenchJpeg(name, seconds);
    return 0;
}
