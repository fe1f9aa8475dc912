// Streams recorded from GStreamer's rtpjpegpay (tests/data/jpeg/record.py; Q=255 with in-band
// tables) go through the depacketizer, as recorded and rewritten into what GStreamer does not
// send (tables from Q, restart marker headers, tables sent once for their Q). FFmpeg must decode
// every picture without a complaint and all variants must decode to the same pixels. Without
// FFmpeg the decoder checks are skipped after everything else was checked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ffmpeg_tools.h"
#include "jpeg_test_support.h"
#include "media/jpeg_tables.h"

namespace kestrav
{
namespace
{
using testing::Bytes;
using testing::kFfmpeg;
using testing::RunCommand;

constexpr std::size_t kRtpHeaderSize = 12;

struct StreamCase
{
    const char* name;
    int quality;
    std::size_t pictures;
};

const StreamCase kStreams[] = {
    {"q50_320x240", 50, 3},
    {"q85_320x240", 85, 2}, // sequence wrap
    {"q10_320x240", 10, 2},
};

struct Decoded
{
    std::string errors;
    std::string md5;
};

// FFmpeg's complaints about one picture (empty when clean) and the MD5 of its pixels.
Decoded Decode(const Bytes& picture)
{
    const testing::TemporaryFile file(".jpg");
    file.Write(picture);
    const std::string path = testing::PeerPath(file.Path());
    return {RunCommand(std::string(kFfmpeg) + " -v error -i " + path + " -f null -"),
            RunCommand(std::string(kFfmpeg) + " -v error -i " + path + " -f md5 -")};
}

// The payload of a first fragment without its quantization table header, under the given Q.
Bytes WithTablesFromQ(const Bytes& datagram, int quality)
{
    Bytes rewritten = datagram;
    const std::size_t main = kRtpHeaderSize;
    if (rewritten[main + 1] == 0 && rewritten[main + 2] == 0 && rewritten[main + 3] == 0)
    {
        const std::size_t length = std::size_t{rewritten[main + 10]} << 8 | rewritten[main + 11];
        rewritten.erase(rewritten.begin() + static_cast<std::ptrdiff_t>(main + 8),
                        rewritten.begin() + static_cast<std::ptrdiff_t>(main + 12 + length));
    }
    rewritten[main + 5] = static_cast<std::uint8_t>(quality);
    return rewritten;
}

// Under Q 200, whose tables a camera may send once: a first fragment after the first keeps its
// quantization table header with length 0 and loses the tables.
Bytes WithTablesOnce(const Bytes& datagram, bool& tablesSent)
{
    Bytes rewritten = datagram;
    const std::size_t main = kRtpHeaderSize;
    rewritten[main + 5] = 200;
    if (rewritten[main + 1] != 0 || rewritten[main + 2] != 0 || rewritten[main + 3] != 0)
        return rewritten;
    if (tablesSent)
    {
        const std::size_t length = std::size_t{rewritten[main + 10]} << 8 | rewritten[main + 11];
        rewritten[main + 10] = 0;
        rewritten[main + 11] = 0;
        rewritten.erase(rewritten.begin() + static_cast<std::ptrdiff_t>(main + 12),
                        rewritten.begin() + static_cast<std::ptrdiff_t>(main + 12 + length));
    }
    tablesSent = true;
    return rewritten;
}

// Type 1 becomes type 65 with a restart marker header (interval 0: the data has no markers).
Bytes WithRestartHeader(const Bytes& datagram)
{
    Bytes rewritten = datagram;
    rewritten[kRtpHeaderSize + 4] = 65;
    const Bytes header = testing::RestartHeader(0);
    rewritten.insert(rewritten.begin() + kRtpHeaderSize + 8, header.begin(), header.end());
    return rewritten;
}

class RecordedStream : public testing::JpegFixture
{
protected:
    std::vector<hostkit::DeliveredFrame> Depacketize(const std::vector<Bytes>& datagrams, std::size_t lost = SIZE_MAX)
    {
        kit.Sink().Clear();
        CJpegRTPMediaParser fresh(&driver);
        fresh.SetClient(&client);
        for (std::size_t i = 0; i < datagrams.size(); ++i)
        {
            if (i == lost)
                continue;
            CRTPPacket packet;
            EXPECT_TRUE(packet.Parse(datagrams[i]));
            fresh.ProcessPacket(packet);
        }
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
        return kit.Sink().Frames();
    }
};

TEST_F(RecordedStream, InBandTablesAreTheT81TablesScaledByQuality)
{
    for (const StreamCase& stream : kStreams)
    {
        const std::vector<Bytes> datagrams = testing::LoadJpegStream(stream.name);
        ASSERT_FALSE(datagrams.empty()) << stream.name;
        const Bytes& first = datagrams[0];
        ASSERT_GE(first.size(), kRtpHeaderSize + 12 + 128);
        ASSERT_EQ(first[kRtpHeaderSize + 5], 255) << stream.name;
        const Bytes inBand(first.begin() + kRtpHeaderSize + 12, first.begin() + kRtpHeaderSize + 12 + 128);
        const auto fromQ = jpeg::QuantizationTablesFromT81(stream.quality);
        EXPECT_EQ(inBand, Bytes(fromQ.begin(), fromQ.end())) << stream.name;
    }
}

TEST_F(RecordedStream, EveryVariantDecodesCleanlyToTheSamePixels)
{
    const bool haveFfmpeg = std::filesystem::exists(testing::LocalPath(kFfmpeg));
    for (const StreamCase& stream : kStreams)
    {
        SCOPED_TRACE(stream.name);
        const std::vector<Bytes> recorded = testing::LoadJpegStream(stream.name);
        ASSERT_FALSE(recorded.empty());
        std::vector<Bytes> fromQ, restart, tablesOnce;
        bool tablesSent = false;
        for (const Bytes& datagram : recorded)
        {
            fromQ.push_back(WithTablesFromQ(datagram, stream.quality));
            restart.push_back(WithRestartHeader(datagram));
            tablesOnce.push_back(WithTablesOnce(datagram, tablesSent));
        }
        const auto inBandFrames = Depacketize(recorded);
        const auto fromQFrames = Depacketize(fromQ);
        const auto restartFrames = Depacketize(restart);
        const auto tablesOnceFrames = Depacketize(tablesOnce);
        ASSERT_EQ(inBandFrames.size(), stream.pictures);
        ASSERT_EQ(fromQFrames.size(), stream.pictures);
        ASSERT_EQ(restartFrames.size(), stream.pictures);
        ASSERT_EQ(tablesOnceFrames.size(), stream.pictures);
        for (std::size_t i = 0; i < stream.pictures; ++i)
        {
            for (const auto* frame : {&inBandFrames[i], &fromQFrames[i], &restartFrames[i], &tablesOnceFrames[i]})
            {
                EXPECT_EQ(frame->typeCode, ipcapture::kTypeCodeJpeg);
                EXPECT_EQ(frame->width, 320u);
                EXPECT_EQ(frame->height, 240u);
                ASSERT_GE(frame->data.size(), 4u);
                // rtpjpegpay sends the end marker; it must not be doubled.
                EXPECT_NE(frame->data[frame->data.size() - 3], 0xD9);
                EXPECT_EQ(Bytes(frame->data.end() - 2, frame->data.end()), (Bytes{0xFF, 0xD9}));
            }
        }
        if (!haveFfmpeg)
            continue;
        for (std::size_t i = 0; i < stream.pictures; ++i)
        {
            const Decoded inBand = Decode(inBandFrames[i].data);
            const Decoded tablesFromQ = Decode(fromQFrames[i].data);
            const Decoded withRestart = Decode(restartFrames[i].data);
            const Decoded withTablesOnce = Decode(tablesOnceFrames[i].data);
            EXPECT_EQ(inBand.errors, "") << "picture " << i;
            EXPECT_EQ(tablesFromQ.errors, "") << "picture " << i;
            EXPECT_EQ(withRestart.errors, "") << "picture " << i;
            EXPECT_EQ(withTablesOnce.errors, "") << "picture " << i;
            EXPECT_NE(inBand.md5.find("MD5="), std::string::npos);
            EXPECT_EQ(tablesFromQ.md5, inBand.md5) << "picture " << i;
            EXPECT_EQ(withRestart.md5, inBand.md5) << "picture " << i;
            EXPECT_EQ(withTablesOnce.md5, inBand.md5) << "picture " << i;
        }
    }
    if (!haveFfmpeg)
        GTEST_SKIP() << kFfmpeg << " is missing: the pictures were not decoded";
}

TEST_F(RecordedStream, LostPacketCostsOnlyItsPicture)
{
    const std::vector<Bytes> recorded = testing::LoadJpegStream("q50_320x240");
    ASSERT_EQ(recorded.size(), 15u);
    // Packet 6 is the second fragment of the second picture.
    const auto frames = Depacketize(recorded, 6);
    ASSERT_EQ(frames.size(), 2u);
    const auto all = Depacketize(recorded);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(frames[0].data, all[0].data);
    EXPECT_EQ(frames[1].data, all[2].data);
}
}
}
