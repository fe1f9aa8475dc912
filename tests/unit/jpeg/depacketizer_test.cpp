// RTP/JPEG payloads written byte by byte go through the depacketizer into the host kit: the
// rebuilt headers, the fragments and what a damaged or hostile stream gives the host.
#include <gtest/gtest.h>

#include <algorithm>

#include "jpeg_test_support.h"
#include "media/jpeg_tables.h"

namespace kestrav
{
namespace
{
using testing::Bytes;
using testing::EntropyData;
using testing::HeaderSegments;
using testing::Join;
using testing::MainHeader;
using testing::QuantizationHeader;
using testing::RestartHeader;
using testing::Segment;

constexpr std::uint8_t kDqt = 0xDB, kSof0 = 0xC0, kSof1 = 0xC1, kDht = 0xC4, kSos = 0xDA, kDri = 0xDD, kApp0 = 0xE0;

std::vector<std::uint8_t> Markers(const std::vector<Segment>& segments)
{
    std::vector<std::uint8_t> markers;
    for (const Segment& segment : segments)
        markers.push_back(segment.marker);
    return markers;
}

// The first segment with this marker; one with an empty body when there is none.
Segment Find(const std::vector<Segment>& segments, std::uint8_t marker)
{
    const auto found = std::find_if(segments.begin(), segments.end(),
                                    [marker](const Segment& segment) { return segment.marker == marker; });
    return found == segments.end() ? Segment{marker, {}} : *found;
}

using ShortHeader = testing::JpegFixture;

TEST_F(ShortHeader, Type1Q80IsRebuiltByteForByte)
{
    const Bytes data = EntropyData(700);
    Send(Join({MainHeader(0, 1, 80, 80, 60), data}), true, 0x00020003);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    const hostkit::DeliveredFrame& frame = frames[0];
    EXPECT_EQ(frame.typeCode, ipcapture::kTypeCodeJpeg);
    EXPECT_EQ(frame.width, 640u);
    EXPECT_EQ(frame.height, 480u);
    EXPECT_EQ(frame.sizeClass, 4u);
    EXPECT_EQ(frame.capacity, 8u + 700u + 1024u);
    EXPECT_EQ(frame.ownerName, "rtsph264_main");
    EXPECT_EQ(testing::TestClient::RtpTimestampOf(frame), 0x00020003u);
    ASSERT_EQ(frame.data.size(), CJpegRTPMediaParser::kShortHeaderSize + 700 + 2);

    const std::vector<Segment> segments = HeaderSegments(frame.data);
    EXPECT_EQ(Markers(segments), (std::vector<std::uint8_t>{0xD8, kDqt, kDqt, kSof0, kDht, kDht, kDht, kDht, kSos}));
    // Scale 200 - 2 * 80 = 40: the luminance DC entry is (16 * 40 + 50) / 100 = 6.
    const auto tables = jpeg::QuantizationTablesFromT81(80);
    EXPECT_EQ(segments[1].body, Join({{0x00, 0x43, 0x00}, Bytes(tables.begin(), tables.begin() + 64)}));
    EXPECT_EQ(segments[1].body[3], 6);
    EXPECT_EQ(segments[2].body, Join({{0x00, 0x43, 0x01}, Bytes(tables.begin() + 64, tables.end())}));
    EXPECT_EQ(segments[3].body, (Bytes{0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80, 0x03, // 480 x 640, 3 components
                                       0x00, 0x22, 0x00,                               // Y: 4:2:0, table 0
                                       0x01, 0x11, 0x01, 0x02, 0x11, 0x01}));          // Cb, Cr: table 1
    EXPECT_EQ(segments[4].body.size(), 2u + 1 + 16 + 12);
    EXPECT_EQ(segments[4].body[2], 0x00);
    EXPECT_EQ(segments[5].body.size(), 2u + 1 + 16 + 162);
    EXPECT_EQ(segments[5].body[2], 0x10);
    EXPECT_EQ(segments[6].body[2], 0x01);
    EXPECT_EQ(segments[7].body[2], 0x11);
    EXPECT_EQ(segments[8].body, (Bytes{0x00, 0x0C, 0x03, 0x00, 0x00, 0x01, 0x11, 0x02, 0x11, 0x00, 0x3F, 0x00}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frame.data.begin() + CJpegRTPMediaParser::kShortHeaderSize));
    EXPECT_EQ(Bytes(frame.data.end() - 2, frame.data.end()), (Bytes{0xFF, 0xD9}));
    EXPECT_EQ(parser.GetWidth(), 640u);
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(ShortHeader, Type0UsesTwoLuminanceBlocksAcross)
{
    Send(Join({MainHeader(0, 0, 50, 40, 30), EntropyData(700)}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Find(HeaderSegments(frames[0].data), kSof0).body.at(9), 0x21);
}

TEST_F(ShortHeader, WidthByteZeroMeans2048)
{
    Send(Join({MainHeader(0, 1, 50, 0, 0), EntropyData(700)}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].width, 2048u);
    EXPECT_EQ(frames[0].height, 2048u);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    const Segment frame = Find(segments, kSof0);
    ASSERT_EQ(frame.body.size(), 17u);
    EXPECT_EQ(Bytes(frame.body.begin() + 3, frame.body.begin() + 7), (Bytes{0x08, 0x00, 0x08, 0x00}));
}

TEST_F(ShortHeader, PicturesOfAnySizeAreDeliveredButNotEmptyOnes)
{
    // 8 + 597 collected bytes = 605, the size of the header itself: a small picture of a still
    // scene, not a damaged one.
    for (const std::size_t size : {597u, 1u})
    {
        const Bytes data = EntropyData(size);
        Send(Join({MainHeader(0, 1, 50, 40, 30), data}), true);
        const auto frames = Frames();
        ASSERT_EQ(frames.size(), 1u) << size;
        EXPECT_EQ(frames[0].data.size(), CJpegRTPMediaParser::kShortHeaderSize + size + 2);
        EXPECT_TRUE(
            std::equal(data.begin(), data.end(), frames[0].data.begin() + CJpegRTPMediaParser::kShortHeaderSize));
        kit.Sink().Clear();
    }
    Send(MainHeader(0, 1, 50, 40, 30), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.IsWaitingForFirstFragment());
}

TEST_F(ShortHeader, DataEndingWithEndMarkerIsNotGivenASecondOne)
{
    const Bytes data = Join({EntropyData(700), {0xFF, 0xD9}});
    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), CJpegRTPMediaParser::kShortHeaderSize + data.size());
}

TEST(QuantizationTables, ScaleFollowsQ)
{
    const auto q1 = jpeg::QuantizationTablesFromT81(1);
    // Q 0 counts as 1: scale 5000, every entry clipped to 255.
    EXPECT_EQ(jpeg::QuantizationTablesFromT81(0), q1);
    EXPECT_TRUE(std::all_of(q1.begin(), q1.end(), [](std::uint8_t entry) { return entry == 255; }));
    // Q 99 and 127 both use scale 2: (16 * 2 + 50) / 100 = 0, raised to 1.
    const auto q99 = jpeg::QuantizationTablesFromT81(99);
    EXPECT_EQ(jpeg::QuantizationTablesFromT81(127), q99);
    EXPECT_EQ(q99[0], 1);
    EXPECT_EQ(q99[64], 1);  // (17 * 2 + 50) / 100
    EXPECT_EQ(q99[127], 2); // (99 * 2 + 50) / 100
    // Q 25: scale 200; the chrominance entry at zig-zag position 3 is row-order 24: (24 * 200 + 50) / 100.
    EXPECT_EQ(jpeg::QuantizationTablesFromT81(25)[64 + 3], 48);
}

TEST(QuantizationTables, RfcBaseTablesAreTheT81TablesInZigZagOrder)
{
    for (std::size_t i = 0; i < jpeg::kBlockSize; ++i)
    {
        EXPECT_EQ(jpeg::kRfcLuminanceQuantization[i], jpeg::kT81LuminanceQuantization[jpeg::kZigZag[i]]) << i;
        EXPECT_EQ(jpeg::kRfcChrominanceQuantization[i], jpeg::kT81ChrominanceQuantization[jpeg::kZigZag[i]]) << i;
    }
    for (int q = 1; q < 100; ++q)
        EXPECT_EQ(jpeg::QuantizationTablesFromRfc(q), jpeg::QuantizationTablesFromT81(q)) << q;
}

TEST(HuffmanTables, CountsMatchTheValues)
{
    const std::size_t sizes[] = {12, 162, 12, 162};
    for (std::size_t i = 0; i < jpeg::kTypicalHuffmanTables.size(); ++i)
    {
        const jpeg::HuffmanTable& table = jpeg::kTypicalHuffmanTables[i];
        std::size_t total = 0;
        for (const std::uint8_t count : table.counts)
            total += count;
        EXPECT_EQ(total, sizes[i]);
        EXPECT_EQ(table.values.size(), sizes[i]);
    }
}

using Fragments = testing::JpegFixture;

TEST_F(Fragments, ThreeFragmentsMakeOnePicture)
{
    const Bytes data = EntropyData(3000);
    Send(Join({MainHeader(0, 1, 50, 40, 30), Bytes(data.begin(), data.begin() + 1400)}), false);
    Send(Join({MainHeader(1400, 1, 50, 40, 30), Bytes(data.begin() + 1400, data.begin() + 2800)}), false);
    EXPECT_TRUE(Frames().empty());
    Send(Join({MainHeader(2800, 1, 50, 40, 30), Bytes(data.begin() + 2800, data.end())}), true);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), CJpegRTPMediaParser::kShortHeaderSize + data.size() + 2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frames[0].data.begin() + CJpegRTPMediaParser::kShortHeaderSize));
    EXPECT_EQ(frames[0].capacity, 8u + 3000u + 1024u);
}

TEST_F(Fragments, LostFragmentDropsThePicture)
{
    const Bytes data = EntropyData(3000);
    Send(Join({MainHeader(0, 1, 50, 40, 30), Bytes(data.begin(), data.begin() + 1400)}), false);
    SkipSequenceNumber();
    Send(Join({MainHeader(2800, 1, 50, 40, 30), Bytes(data.begin() + 2800, data.end())}), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.IsWaitingForFirstFragment());

    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), true, 6000);
    EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(Fragments, OffsetThatLeavesAHoleDropsThePicture)
{
    // No sequence gap, but the camera skipped bytes: a picture with a hole must not reach the host.
    const Bytes data = EntropyData(1400);
    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), false);
    Send(Join({MainHeader(2800, 1, 50, 40, 30), data}), true);
    EXPECT_TRUE(Frames().empty());
}

TEST_F(Fragments, FragmentsOutOfOrderDropThePicture)
{
    const Bytes data = EntropyData(1400);
    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), false);
    Send(Join({MainHeader(2800, 1, 50, 40, 30), data}), false);
    Send(Join({MainHeader(1400, 1, 50, 40, 30), data}), true);
    EXPECT_TRUE(Frames().empty());
}

TEST_F(Fragments, FragmentOfAnotherTimestampDropsThePicture)
{
    const Bytes data = EntropyData(1400);
    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), false, 3000);
    Send(Join({MainHeader(1400, 1, 50, 40, 30), data}), true, 6000);
    EXPECT_TRUE(Frames().empty());
}

TEST_F(Fragments, ContinuationWithoutFirstFragmentIsDropped)
{
    Send(Join({MainHeader(1400, 1, 50, 40, 30), EntropyData(1400)}), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.IsWaitingForFirstFragment());
}

TEST_F(Fragments, NewFirstFragmentDiscardsAnUnfinishedPicture)
{
    // The marker packet of the first picture was lost together with a whole sequence wrap's
    // worth of packets; only the second picture's bytes may be delivered.
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(1400, 1)}), false, 3000);
    const Bytes data = EntropyData(800, 2);
    Send(Join({MainHeader(0, 1, 50, 40, 30), data}), true, 6000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data.size(), CJpegRTPMediaParser::kShortHeaderSize + data.size() + 2);
}

TEST_F(Fragments, NextPictureFollowsWithoutLoss)
{
    for (std::uint32_t picture = 0; picture < 3; ++picture)
    {
        const Bytes data = EntropyData(1000, static_cast<std::uint8_t>(picture));
        Send(Join({MainHeader(0, 1, 50, 40, 30), Bytes(data.begin(), data.begin() + 500)}), false, picture);
        Send(Join({MainHeader(500, 1, 50, 40, 30), Bytes(data.begin() + 500, data.end())}), true, picture);
    }
    EXPECT_EQ(Frames().size(), 3u);
}

using RestartMarkers = testing::JpegFixture;

TEST_F(RestartMarkers, Type65SkipsTwelveBytesAndWritesTheInterval)
{
    const Bytes data = EntropyData(1600);
    Send(Join({MainHeader(0, 65, 50, 40, 30), RestartHeader(0x0102), Bytes(data.begin(), data.begin() + 800)}), false);
    EXPECT_EQ(parser.GetFragmentHeaderSize(), 12u);
    Send(Join({MainHeader(800, 65, 50, 40, 30), RestartHeader(0x0102), Bytes(data.begin() + 800, data.end())}), true);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    EXPECT_EQ(Markers(segments),
              (std::vector<std::uint8_t>{0xD8, kDri, kDqt, kDqt, kSof0, kDht, kDht, kDht, kDht, kSos}));
    EXPECT_EQ(segments[1].body, (Bytes{0x00, 0x04, 0x01, 0x02}));
    EXPECT_EQ(segments[4].body[9], 0x22);
    EXPECT_EQ(frames[0].data.size(), CJpegRTPMediaParser::kShortHeaderSize + 6 + data.size() + 2);
    EXPECT_TRUE(
        std::equal(data.begin(), data.end(), frames[0].data.begin() + CJpegRTPMediaParser::kShortHeaderSize + 6));
}

TEST_F(RestartMarkers, Type64KeepsTwoLuminanceBlocksAcross)
{
    Send(Join({MainHeader(0, 64, 50, 40, 30), RestartHeader(4), EntropyData(800)}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(Find(HeaderSegments(frames[0].data), kSof0).body.at(9), 0x21);
}

TEST_F(RestartMarkers, FullHeaderWritesTheIntervalOnlyWhenSet)
{
    const Bytes tables(128, 0x10);
    Send(Join({MainHeader(0, 65, 255, 40, 30), RestartHeader(8), QuantizationHeader(tables), EntropyData(100)}), true);
    Send(Join({MainHeader(0, 65, 255, 40, 30), RestartHeader(0), QuantizationHeader(tables), EntropyData(100)}), true,
         6000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    EXPECT_EQ(Find(segments, kDri).body, (Bytes{0x00, 0x04, 0x00, 0x08}));
    EXPECT_TRUE(Find(HeaderSegments(frames[1].data), kDri).body.empty());
}

TEST_F(RestartMarkers, TruncatedRestartHeaderIsDropped)
{
    Send(Join({MainHeader(0, 65, 50, 40, 30), {0x00, 0x04}}), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.IsWaitingForFirstFragment());
}

using InBandTables = testing::JpegFixture;

TEST_F(InBandTables, TwoTablesGiveTwoSegmentsAndAJfifHeader)
{
    Bytes tables(128);
    for (std::size_t i = 0; i < tables.size(); ++i)
        tables[i] = static_cast<std::uint8_t>(i + 1);
    const Bytes data = EntropyData(300);
    Send(Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader(tables), data}), true);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].capacity, 8u + 4 + 128 + 300 + 1024);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    EXPECT_EQ(Markers(segments),
              (std::vector<std::uint8_t>{0xD8, kApp0, kDqt, kDqt, kSof0, kDht, kDht, kDht, kDht, kSos}));
    EXPECT_EQ(segments[1].body,
              (Bytes{0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(segments[2].body, Join({{0x00, 0x43, 0x00}, Bytes(tables.begin(), tables.begin() + 64)}));
    EXPECT_EQ(segments[3].body, Join({{0x00, 0x43, 0x01}, Bytes(tables.begin() + 64, tables.end())}));
    EXPECT_EQ(segments[4].body, (Bytes{0x00, 0x11, 0x08, 0x00, 0xF0, 0x01, 0x40, 0x03, // 240 x 320
                                       0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01}));
    EXPECT_EQ(segments[9].body, (Bytes{0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}));
    // Without a restart interval the header is 495 bytes plus the tables.
    EXPECT_EQ(frames[0].data.size(), 495u + 128 + data.size() + 2);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), frames[0].data.begin() + 495 + 128));
}

TEST_F(InBandTables, OneTableIsSharedByAllComponents)
{
    const Bytes tables(64, 0x05);
    Send(Join({MainHeader(0, 0, 200, 40, 30), QuantizationHeader(tables), EntropyData(300)}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    EXPECT_EQ(std::count_if(segments.begin(), segments.end(), [](const Segment& s) { return s.marker == kDqt; }), 1);
    EXPECT_EQ(Find(segments, kSof0).body, (Bytes{0x00, 0x11, 0x08, 0x00, 0xF0, 0x01, 0x40, 0x03, 0x01, 0x21, 0x00, 0x02,
                                                 0x11, 0x00, 0x03, 0x11, 0x00}));
}

TEST_F(InBandTables, WithoutTablesTheRfcTablesAtQ99StandIn)
{
    Send(Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader({}), EntropyData(300)}), true);
    Send(Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader(Bytes(64, 7), 0, 1), EntropyData(300)}), true, 6000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const auto expected = jpeg::QuantizationTablesFromRfc(99);
    for (const hostkit::DeliveredFrame& frame : frames)
    {
        const std::vector<Segment> segments = HeaderSegments(frame.data);
        EXPECT_EQ(Find(segments, kDqt).body,
                  Join({{0x00, 0x43, 0x00}, Bytes(expected.begin(), expected.begin() + 64)}));
    }
}

TEST_F(InBandTables, SixteenBitTableIsMarkedSo)
{
    Send(Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader(Bytes(192, 1), 1), EntropyData(300)}), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<Segment> segments = HeaderSegments(frames[0].data);
    EXPECT_EQ(segments[2].body[2], 0x10);
    EXPECT_EQ(segments[2].body.size(), 3u + 128);
    EXPECT_EQ(segments[3].body[2], 0x01);
    // Baseline frames forbid 16-bit tables: extended sequential, still 8-bit samples.
    EXPECT_TRUE(Find(segments, kSof0).body.empty());
    EXPECT_EQ(Find(segments, kSof1).body.at(2), 0x08);
}

TEST_F(InBandTables, TablesSentOnceAreKeptPerQ)
{
    Bytes tables200(128), tables201(256);
    for (std::size_t i = 0; i < tables200.size(); ++i)
        tables200[i] = static_cast<std::uint8_t>(i + 1);
    for (std::size_t i = 0; i < tables201.size(); ++i)
        tables201[i] = static_cast<std::uint8_t>(i / 2);
    const Bytes data = EntropyData(300);
    std::uint32_t timestamp = 0;
    const auto send = [&](std::uint8_t q, const Bytes& tables, std::uint8_t precision = 0) {
        Send(Join({MainHeader(0, 1, q, 40, 30), QuantizationHeader(tables, precision), data}), true, timestamp += 3000);
    };
    send(200, tables200);
    send(201, tables201, 3);
    send(201, {});
    SkipSequenceNumber(); // a lost packet resets the picture, not the tables
    send(200, {});
    send(255, Bytes(128, 9));
    send(255, {}); // Q 255 tables belong to one picture only

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 6u);
    const auto dqt = [&](std::size_t frame)
    {
        Bytes all;
        for (const Segment& segment : HeaderSegments(frames[frame].data))
            if (segment.marker == kDqt)
                all = Join({all, segment.body});
        return all;
    };
    const auto sofMarker = [&](std::size_t frame) { return HeaderSegments(frames[frame].data).at(4).marker; };
    EXPECT_EQ(dqt(2), dqt(1));
    EXPECT_EQ(dqt(2), Join({{0x00, 0x83, 0x10},
                            Bytes(tables201.begin(), tables201.begin() + 128),
                            {0x00, 0x83, 0x11},
                            Bytes(tables201.begin() + 128, tables201.end())}));
    EXPECT_EQ(sofMarker(2), kSof1);
    EXPECT_EQ(dqt(3), dqt(0));
    EXPECT_EQ(dqt(3), Join({{0x00, 0x43, 0x00},
                            Bytes(tables200.begin(), tables200.begin() + 64),
                            {0x00, 0x43, 0x01},
                            Bytes(tables200.begin() + 64, tables200.end())}));
    EXPECT_EQ(sofMarker(3), kSof0);
    const auto standIn = jpeg::QuantizationTablesFromRfc(99);
    EXPECT_EQ(dqt(5), Join({{0x00, 0x43, 0x00},
                            Bytes(standIn.begin(), standIn.begin() + 64),
                            {0x00, 0x43, 0x01},
                            Bytes(standIn.begin() + 64, standIn.end())}));
    for (std::size_t frame = 0; frame < frames.size(); ++frame)
        EXPECT_TRUE(std::equal(data.begin(), data.end(), frames[frame].data.end() - 2 - data.size())) << frame;
}

TEST_F(InBandTables, MissingOrMalformedTablesAreDropped)
{
    // Announces 128 bytes, carries 100.
    Bytes truncated = Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader(Bytes(128, 1))});
    truncated.erase(truncated.end() - 28, truncated.end());
    Send(truncated, true);
    // A length that fills neither one nor two tables.
    Send(Join({MainHeader(0, 1, 255, 40, 30), QuantizationHeader(Bytes(100, 1)), EntropyData(300)}), true);
    // A table header cut short.
    Send(Join({MainHeader(0, 1, 255, 40, 30), {0x00, 0x00}}), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

using HostileInput = testing::JpegFixture;

TEST_F(HostileInput, ShortPayloadsAndUnknownTypesDeliverNothing)
{
    Send({0x00, 0x00, 0x00}, true);
    Send({0x00, 0x00, 0x00, 0x00, 0x01, 0x50, 0x28}, true); // one byte short of a main header
    Send(Join({MainHeader(0, 128, 50, 40, 30), EntropyData(800)}), true);
    Send(Join({MainHeader(0xFFFFFF, 1, 50, 40, 30), EntropyData(800)}), true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_TRUE(parser.IsWaitingForFirstFragment());
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(800)}), true);
    EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(HostileInput, OversizedPictureIsDroppedAndLogged)
{
    const Bytes chunk = EntropyData(60000);
    Send(Join({MainHeader(0, 1, 50, 40, 30), chunk}), false);
    std::uint32_t offset = static_cast<std::uint32_t>(chunk.size());
    while (offset <= CRTPMediaParser::kFrameBufferLimit)
    {
        Send(Join({MainHeader(offset, 1, 50, 40, 30), chunk}), false);
        offset += static_cast<std::uint32_t>(chunk.size());
    }
    Send(Join({MainHeader(offset, 1, 50, 40, 30), chunk}), true);
    EXPECT_TRUE(Frames().empty());
    ASSERT_FALSE(driver.lines.empty());
    EXPECT_NE(driver.lines[0].second.find("Frame buffer overflow"), std::string::npos);
}

using Delivery = testing::JpegFixture;

TEST_F(Delivery, RefusedPictureResetsAndIsReleased)
{
    kit.Sink().SetAccept(false);
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(800)}), true);
    EXPECT_EQ(kit.Sink().DeliveredCount(), 1u);
    EXPECT_EQ(parser.GetWidth(), 0u);
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(Delivery, PictureWithoutHostBufferIsDroppedAlone)
{
    kit.Allocator().FailNextAllocations(1);
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(800)}), true);
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(800)}), true, 6000);
    EXPECT_EQ(Frames().size(), 1u);
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(Delivery, NothingWithoutAnAllocator)
{
    driver.withAllocator = false;
    Send(Join({MainHeader(0, 1, 50, 40, 30), EntropyData(800)}), true);
    EXPECT_EQ(kit.Sink().DeliveredCount(), 0u);
}
}
}
