// Streams recorded from GStreamer (tests/data/h264/record.py) go through the depacketizer into
// the host kit; FFmpeg must decode what the host received without a single complaint, and the
// frames must carry the size and type codes the stream holds. Losing a packet must cost frames
// up to the next key frame and never deliver a broken one. Without FFmpeg the decoder checks are
// skipped (after everything else was checked).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ffmpeg_tools.h"
#include "h264_test_support.h"

namespace kestrav
{
namespace
{
using testing::Bytes;

using testing::kFfmpeg;
using testing::kFfprobe;
using testing::RunCommand;
using testing::TemporaryFile;

struct StreamCase
{
    const char* name;
    std::uint32_t width;
    std::uint32_t height;
    // Frames the host should receive: all of them, the first key frame of a stream that sends
    // its sets only in the SDP included.
    std::size_t frames;
};

const StreamCase kStreams[] = {
    {"baseline_352x288_inband", 352, 288, 16},  // FU-A, in-band sets, sequence wrap
    {"high_1920x1080_sprop", 1920, 1080, 6},    // sets only in the SDP, delimiters, cropped
    {"main_640x360_slices", 640, 360, 10},      // four slices per picture, FU-A
    {"high_1280x720_stapa", 1280, 720, 8},      // sets and SEI aggregated, scaling matrices
    {"high444_200x120_inband", 200, 120, 6},    // 4:4:4 with one-pixel cropping units
    {"interlaced_640x360_inband", 640, 360, 6}, // field coding, four-line cropping units
};

bool HasIdrSlice(const Bytes& accessUnit)
{
    for (std::size_t i = 0; i + 3 < accessUnit.size(); ++i)
    {
        if (accessUnit[i] == 0 && accessUnit[i + 1] == 0 && accessUnit[i + 2] == 1 && (accessUnit[i + 3] & 0x1F) == 5)
            return true;
    }
    return false;
}

class RecordedStream : public testing::DepacketizerFixture
{
protected:
    // Feeds the stream, leaving out the packets at the given indexes.
    std::vector<hostkit::DeliveredFrame> Depacketize(const testing::Fixture& fixture,
                                                     const std::vector<std::size_t>& lost = {})
    {
        kit.Sink().Clear();
        CH264RTPMediaParser fresh(&driver);
        fresh.SetClient(&client);
        fresh.SetParameterSets(fixture.sprop);
        for (std::size_t i = 0; i < fixture.datagrams.size(); ++i)
        {
            if (std::find(lost.begin(), lost.end(), i) != lost.end())
                continue;
            CRTPPacket packet;
            EXPECT_TRUE(packet.Parse(fixture.datagrams[i]));
            fresh.ProcessPacket(packet);
        }
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
        return kit.Sink().Frames();
    }

    // FFmpeg's complaints about the access units written one after the other (empty when it
    // decodes them cleanly), and what FFprobe reports of them.
    struct Decoded
    {
        std::string errors;
        std::string probe;
    };
    static Decoded Decode(const std::vector<hostkit::DeliveredFrame>& frames)
    {
        TemporaryFile file(".h264");
        {
            std::ofstream out(file.Path(), std::ios::binary);
            for (std::size_t i = 0; i < frames.size(); ++i)
            {
                // The delimiter behind each frame opens the next access unit; behind the last
                // frame of a recording there is none, and FFmpeg would report it as a picture
                // missing at the end of the file.
                const std::size_t trailer = i + 1 == frames.size() ? std::size(CH264RTPMediaParser::kFrameTrailer) : 0;
                out.write(reinterpret_cast<const char*>(frames[i].data.data()),
                          static_cast<std::streamsize>(frames[i].data.size() - trailer));
            }
        }
        const std::string path = testing::PeerPath(file.Path());
        return {RunCommand(std::string(kFfmpeg) + " -nostdin -hide_banner -v error -f h264 -i " + path + " -f null -"),
                RunCommand(std::string(kFfprobe) +
                           " -v error -f h264 -count_frames -select_streams v:0 -show_entries "
                           "stream=width,height,nb_read_frames -of csv=p=0 " +
                           path)};
    }

    static bool DecoderInstalled()
    {
        return std::filesystem::exists(testing::LocalPath(kFfmpeg)) &&
               std::filesystem::exists(testing::LocalPath(kFfprobe));
    }
};

TEST_F(RecordedStream, EveryStreamDecodesCleanlyWithItsSizeAndTypeCodes)
{
    for (const StreamCase& stream : kStreams)
    {
        SCOPED_TRACE(stream.name);
        const std::optional<testing::Fixture> fixture = testing::LoadFixture(stream.name);
        ASSERT_TRUE(fixture) << "tests/data/h264/" << stream.name << ".rtp and .sprop";
        const std::vector<hostkit::DeliveredFrame> frames = Depacketize(*fixture);
        ASSERT_EQ(frames.size(), stream.frames);

        for (std::size_t i = 0; i < frames.size(); ++i)
        {
            SCOPED_TRACE("frame " + std::to_string(i));
            const hostkit::DeliveredFrame& frame = frames[i];
            EXPECT_EQ(frame.width, stream.width);
            EXPECT_EQ(frame.height, stream.height);
            // Every key frame of these streams carries its sequence set, in-band or from the SDP.
            EXPECT_EQ(frame.typeCode, HasIdrSlice(frame.data) ? ipcapture::kTypeCodeH264 : ipcapture::kTypeCodeI264);
            ASSERT_GE(frame.data.size(), 8u);
            EXPECT_EQ(Bytes(frame.data.begin(), frame.data.begin() + 3), (Bytes{0x00, 0x00, 0x01}));
            EXPECT_EQ(Bytes(frame.data.end() - 5, frame.data.end()), (Bytes{0x00, 0x00, 0x01, 0x09, 0x30}));
            EXPECT_EQ(frame.capacity, CRTPMediaParser::GetBufferCapacity(frame.data.size()));
        }
        EXPECT_EQ(frames.front().typeCode, ipcapture::kTypeCodeH264);

        if (!DecoderInstalled())
            continue;
        const Decoded decoded = Decode(frames);
        EXPECT_EQ(decoded.errors, "");
        EXPECT_EQ(decoded.probe, std::to_string(stream.width) + "," + std::to_string(stream.height) + "," +
                                     std::to_string(stream.frames) + "\n");
    }
    if (!DecoderInstalled())
        GTEST_SKIP() << "FFmpeg is not installed (scripts/setup.sh installs it): the streams were not decoded";
}

// Index of the first packet of the stream that is a middle fragment of the access unit with
// the given RTP timestamp, or of its first fragment when there is no middle.
std::optional<std::size_t> FragmentOf(const testing::Fixture& fixture, std::uint32_t timestamp, bool middle)
{
    for (std::size_t i = 0; i < fixture.datagrams.size(); ++i)
    {
        CRTPPacket packet;
        if (!packet.Parse(fixture.datagrams[i]) || packet.GetTimestamp() != timestamp || packet.GetPayloadLength() < 2)
            continue;
        const auto payload = packet.GetPayload();
        const bool fragment = (payload[0] & 0x1F) == 28;
        const bool start = (payload[1] & 0x80) != 0;
        const bool end = (payload[1] & 0x40) != 0;
        if (fragment && (middle ? !start && !end : start))
            return i;
    }
    return std::nullopt;
}

TEST_F(RecordedStream, ALostFragmentCostsTheFramesUpToTheNextKeyFrameAndNoMore)
{
    struct LossCase
    {
        const char* name;
        // The delivered frame whose fragment is lost.
        std::size_t frame;
        bool middle;
    };
    const LossCase losses[] = {
        {"baseline_352x288_inband", 1, true}, // a P frame: the rest of its group of pictures goes
        {"baseline_352x288_inband", 8, true}, // the second key frame: nothing after it is decodable
        {"main_640x360_slices", 0, true},     // one slice of the first key frame
        {"main_640x360_slices", 7, false},    // the first fragment of a P frame's slice
        {"high_1920x1080_sprop", 1, false},   // sets from the SDP only: the key frame's start
    };
    for (const LossCase& loss : losses)
    {
        SCOPED_TRACE(std::string(loss.name) + " frame " + std::to_string(loss.frame));
        const std::optional<testing::Fixture> fixture = testing::LoadFixture(loss.name);
        ASSERT_TRUE(fixture);
        const std::vector<hostkit::DeliveredFrame> intact = Depacketize(*fixture);
        ASSERT_LT(loss.frame, intact.size());
        const std::uint32_t damagedTimestamp = testing::TestClient::RtpTimestampOf(intact[loss.frame]);
        const std::optional<std::size_t> lostPacket = FragmentOf(*fixture, damagedTimestamp, loss.middle);
        ASSERT_TRUE(lostPacket);

        const std::vector<hostkit::DeliveredFrame> damaged = Depacketize(*fixture, {*lostPacket});

        // Everything before the loss arrives as it was; then nothing until a key frame, and from
        // there on every frame, each byte for byte what the intact stream gave.
        ASSERT_GE(damaged.size(), loss.frame);
        std::size_t resumed = loss.frame + 1;
        while (resumed < intact.size() && intact[resumed].typeCode != ipcapture::kTypeCodeH264)
            ++resumed;
        ASSERT_EQ(damaged.size(), loss.frame + (intact.size() - resumed));
        for (std::size_t i = 0; i < damaged.size(); ++i)
        {
            const hostkit::DeliveredFrame& expected = intact[i < loss.frame ? i : resumed + (i - loss.frame)];
            EXPECT_EQ(damaged[i].data, expected.data) << "delivered frame " << i;
            EXPECT_EQ(damaged[i].typeCode, expected.typeCode) << "delivered frame " << i;
        }
        if (DecoderInstalled())
        {
            EXPECT_EQ(Decode(damaged).errors, "");
        }
    }
    if (!DecoderInstalled())
        GTEST_SKIP() << "FFmpeg is not installed (scripts/setup.sh installs it): the damaged streams were not decoded";
}
}
}
