// Given RTP payloads written byte by byte, the host receives exactly the access units RFC 6184
// and the frame delivery contract make of them, and nothing it could not decode.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "h264_test_support.h"
#include "sps_builder.h"

namespace kestrav
{
namespace
{
using testing::Bytes;
using testing::Join;
using testing::NalUnit;

const Bytes kStart = {0x00, 0x00, 0x01};
const Bytes kTrailer = {0x00, 0x00, 0x01, 0x09, 0x30};
const Bytes kPps = {0x68, 0xEB, 0xEC, 0xB2, 0x2C};

class H264Depacketizer : public testing::DepacketizerFixture
{
protected:
    const Bytes sps = testing::Sps1280x720();
    const Bytes idr = NalUnit(0x65, 40);   // NRI=3, type 5
    const Bytes slice = NalUnit(0x41, 30); // NRI=2, type 1

    void StoreSdpSets() { parser.SetParameterSets({sps, kPps, {}}); }
    // One STAP-A: type 24, then each unit after its 16-bit size.
    static Bytes StapA(std::initializer_list<Bytes> units)
    {
        Bytes joined = {0x18};
        for (const Bytes& unit : units)
        {
            joined.push_back(static_cast<std::uint8_t>(unit.size() >> 8));
            joined.push_back(static_cast<std::uint8_t>(unit.size()));
            joined.insert(joined.end(), unit.begin(), unit.end());
        }
        return joined;
    }
    // The smallest access unit that ends the wait for a key frame.
    void SendKeyFrame() { Send(StapA({sps, kPps, idr}), true); }

    Bytes FrameData(std::size_t index)
    {
        const auto frames = Frames();
        return index < frames.size() ? frames[index].data : Bytes{};
    }
};

TEST_F(H264Depacketizer, AnIdrSliceGetsTheStoredSetsInFrontAndTheDelimiterBehind)
{
    StoreSdpSets();
    Send(idr, true, 0x00012345);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, Join({kStart, sps, kStart, kPps, kStart, idr, kTrailer}));
    EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeCodeH264);
    EXPECT_EQ(frames[0].width, 1280u);
    EXPECT_EQ(frames[0].height, 720u);
    EXPECT_EQ(frames[0].sizeClass, 4u);
    EXPECT_EQ(frames[0].capacity, 4096u);
    EXPECT_EQ(frames[0].ownerName, "rtsph264_main");
    EXPECT_EQ(testing::TestClient::RtpTimestampOf(frames[0]), 0x00012345u);
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
    EXPECT_FALSE(parser.IsWaitingForKeyFrame());
}

TEST_F(H264Depacketizer, NothingIsDeliveredBeforeTheFirstKeyFrame)
{
    StoreSdpSets();
    Send(slice, true);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(kit.Allocator().GrantedCount(), 0u) << "no buffer is asked for a frame that is dropped";

    Send(idr, true);
    Send(slice, true, 6000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].data, Join({kStart, slice, kTrailer}));
    EXPECT_EQ(frames[1].typeCode, ipcapture::kTypeCodeI264);
    EXPECT_EQ(frames[1].width, 1280u) << "the size read from the last sequence set";
    EXPECT_EQ(frames[1].height, 720u);
}

TEST_F(H264Depacketizer, OnlyALargeSeiEndsTheFrameOnItsMarkerBit)
{
    SendKeyFrame();
    Send(slice, false);
    Send(NalUnit(0x06, 120), true);
    EXPECT_EQ(Frames().size(), 1u) << "a 120-byte SEI with the marker bit does not finish the frame";
    Send(NalUnit(0x06, 300), true);
    EXPECT_EQ(Frames().size(), 1u) << "300 bytes are not above the threshold";
    Send(NalUnit(0x06, 400), true);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(FrameData(1), Join({kStart, slice, kTrailer})) << "SEI packets are never appended";
}

TEST_F(H264Depacketizer, FragmentsRebuildOneNalUnitWithTheSetsInFront)
{
    StoreSdpSets();
    Send(slice, true); // a marker bit ends the start-up
    const Bytes first = NalUnit(0xAA, 20), middle = NalUnit(0xBB, 20), last = NalUnit(0xCC, 7);
    Send(Join({{0x7C, 0x85}, first}), false); // FU indicator NRI=3 type 28; S=1, type 5
    Send(Join({{0x7C, 0x05}, middle}), false);
    Send(Join({{0x7C, 0x45}, last}), true); // E=1
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(FrameData(0), Join({kStart, sps, kStart, kPps, kStart, {0x65}, first, middle, last, kTrailer}));
    EXPECT_EQ(Frames()[0].typeCode, ipcapture::kTypeCodeH264);
}

TEST_F(H264Depacketizer, AfterPlayOrAResetOnlyAPicturesFirstFragmentedIdrSliceGetsTheSets)
{
    // A camera that announces its sets only in the session description: its very first key
    // frame is shown, and so is the first one after a loss. 0x88 starts the slice data with
    // first_mb_in_slice 0; 0x01 belongs to a later slice, whose picture began before the loss.
    StoreSdpSets();
    const Bytes expected = Join({kStart, sps, kStart, kPps, kStart, {0x65, 0x88, 0x02}, kTrailer});
    Send({0x7C, 0x85, 0x88}, false);
    Send({0x7C, 0x45, 0x02}, true);
    parser.Reset();
    Send({0x7C, 0x85, 0x01}, false, 6000);
    Send({0x7C, 0x45, 0x02}, true, 6000);
    parser.Reset();
    Send({0x7C, 0x85, 0x88}, false, 9000);
    Send({0x7C, 0x45, 0x02}, true, 9000);
    // Sets sent in the stream replace those of the description and are not doubled.
    parser.Reset();
    const Bytes inBandPps = {0x68, 0xCE, 0x38, 0x80};
    Send(inBandPps, false, 12000);
    Send({0x7C, 0x85, 0x88}, false, 12000);
    Send({0x7C, 0x45, 0x02}, true, 12000);

    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data, expected);
    EXPECT_EQ(frames[0].typeCode, ipcapture::kTypeCodeH264);
    EXPECT_EQ(frames[1].data, expected) << "the later slice's picture is not delivered";
    EXPECT_EQ(frames[2].data, Join({kStart, sps, kStart, inBandPps, kStart, {0x65, 0x88, 0x02}, kTrailer}));
}

TEST_F(H264Depacketizer, AnAggregateAppendsEachUnitAfterAStartCode)
{
    const Bytes aud = {0x09, 0x10};
    Send(Join({{0x18}, // STAP-A, F=0 NRI=0
               {0x00, 0x02},
               aud, // 2-byte AUD
               {0x00, static_cast<std::uint8_t>(sps.size())},
               sps, // the SPS
               {0x00, 0x05},
               kPps,         // the PPS
               {0x00, 0x00}, // an empty unit, skipped
               {0x00, 0x28},
               idr,            // 40-byte IDR slice
               {0x00, 0x00}}), // a trailing empty size
         true);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(FrameData(0), Join({kStart, aud, kStart, sps, kStart, kPps, kStart, idr, kTrailer}));
    EXPECT_EQ(Frames()[0].typeCode, ipcapture::kTypeCodeH264) << "the sequence set found behind the delimiter";
}

TEST_F(H264Depacketizer, DelimiterAndSeiAheadOfTheIdrSliceKeepTheSetsInFrontOfTheSlice)
{
    // Encoders that start each access unit with a delimiter and a fragmented SEI; the stored sets
    // still belong in front of the first slice, and only there.
    StoreSdpSets();
    Send(slice, true);
    const Bytes aud = {0x09, 0x10};
    Send(aud, false);
    Send({0x7C, 0x86, 0x05, 0x10}, false); // an SEI in fragments
    Send({0x7C, 0x46, 0x80}, false);
    Send(idr, false);
    const Bytes secondSlice = NalUnit(0x65, 12);
    Send(secondSlice, true);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(FrameData(0), Join({kStart,
                                  aud,
                                  kStart,
                                  {0x66, 0x05, 0x10, 0x80},
                                  kStart,
                                  sps,
                                  kStart,
                                  kPps,
                                  kStart,
                                  idr,
                                  kStart,
                                  secondSlice,
                                  kTrailer}));
    EXPECT_EQ(Frames()[0].typeCode, ipcapture::kTypeCodeH264);
}

TEST_F(H264Depacketizer, InBandSetsReplaceTheStoredOnes)
{
    StoreSdpSets();
    const Bytes newSps = testing::BuildSps(
        []
        {
            testing::SpsFields f;
            f.widthInMbsMinus1 = 21;
            f.heightInMapUnitsMinus1 = 14;
            return f;
        }());
    const Bytes newPps = {0x68, 0xCE, 0x3C, 0x80};
    Send(newSps, false);
    Send(newPps, false);
    Send(idr, true);
    ASSERT_EQ(Frames().size(), 1u);
    EXPECT_EQ(FrameData(0), Join({kStart, newSps, kStart, newPps, kStart, idr, kTrailer}));
    EXPECT_EQ(Frames()[0].width, 352u);
    EXPECT_EQ(Frames()[0].height, 240u);
    EXPECT_EQ(Frames()[0].sizeClass, 2u);
}

TEST_F(H264Depacketizer, AnUnreadableSessionSequenceSetIsNotKept)
{
    parser.SetParameterSets({{0x67, 0x42}, kPps, {}});
    Send(idr, true);
    EXPECT_TRUE(Frames().empty()) << "no sets in front, so no key frame";
    EXPECT_EQ(parser.GetWidth(), 0u);

    StoreSdpSets();
    EXPECT_EQ(parser.GetWidth(), 1280u);
    Send(idr, true);
    EXPECT_EQ(Frames().size(), 1u);
}

TEST_F(H264Depacketizer, ABrokenPayloadDropsTheFrameAndWaitsForAKeyFrame)
{
    const std::vector<std::pair<std::string, Bytes>> broken = {
        {"empty STAP-A", {0x18, 0x00, 0x01}},
        {"STAP-A unit longer than the packet", {0x18, 0x00, 0x05, 0x41, 0x01}},
        {"short FU-A", {0x7C, 0x85}},
        {"FU-A continuation without its start", {0x7C, 0x05, 0x01, 0x02}},
        {"one-byte NAL unit", {0x41}},
        {"STAP-B", {0x19, 0x00, 0x00, 0x00, 0x02, 0x41, 0x01}},
        {"MTAP16", {0x1A, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"MTAP24", {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"FU-B", {0x1D, 0x85, 0x00, 0x00, 0x01}},
        {"type 0", {0x00, 0x01}},
        {"type 30", {0x1E, 0x01}},
        {"type 31", {0x1F, 0x01}},
    };
    for (const auto& [name, payload] : broken)
    {
        SCOPED_TRACE(name);
        kit.Sink().Clear();
        SendKeyFrame();
        Send(slice, false);
        Send(payload, false);
        Send(slice, true);
        Send(slice, true);
        EXPECT_EQ(Frames().size(), 1u) << "only the key frame";
        EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    }
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(H264Depacketizer, RtpPaddingIsNotPartOfTheNalUnit)
{
    SetNextSequenceNumber(2000);
    SendKeyFrame();
    Bytes padded = testing::RtpDatagram(2001, 9000, true, Join({slice, {0xEE, 0xEE, 0x03}}));
    padded[0] |= 0x20; // P=1: the last byte counts three bytes of padding
    Feed(padded);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(FrameData(1), Join({kStart, slice, kTrailer}));

    Bytes overPadded = testing::RtpDatagram(2002, 9000, true, {0x41, 0x01, 0x09});
    overPadded[0] |= 0x20; // claims nine bytes of padding in a three-byte payload
    Feed(overPadded);
    EXPECT_EQ(Frames().size(), 2u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
}

TEST_F(H264Depacketizer, ASequenceGapDropsTheFrameButTheWrapIsNoGap)
{
    SetNextSequenceNumber(65534);
    SendKeyFrame();     // 65534
    Send(slice, false); // 65535
    Send(slice, true);  // 0
    ASSERT_EQ(Frames().size(), 2u) << "65535 → 0 follows";

    Send(slice, false);
    SkipSequenceNumber();
    Send(slice, true);
    Send(slice, true);
    EXPECT_EQ(Frames().size(), 2u) << "the frame with the gap and everything up to the next key frame is dropped";

    SendKeyFrame();
    ASSERT_EQ(Frames().size(), 3u);
    EXPECT_EQ(Frames()[2].typeCode, ipcapture::kTypeCodeH264);

    // A repeated packet breaks the sequence too.
    SetNextSequenceNumber(10);
    SendKeyFrame();
    Feed(testing::RtpDatagram(11, 3000, false, slice));
    Feed(testing::RtpDatagram(11, 3000, true, slice));
    Feed(testing::RtpDatagram(12, 3000, true, slice));
    EXPECT_EQ(Frames().size(), 4u);
}

TEST_F(H264Depacketizer, HostBuffersComeInFourFixedSizesAndThenFitTheFrame)
{
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(0), 4096u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(4096), 4096u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(4097), 16384u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(16385), 32768u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(32769), 131072u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(131072), 131072u);
    EXPECT_EQ(CRTPMediaParser::GetBufferCapacity(131073), 131073u);

    // A frame of 5000 bytes, the trailer included, in fragments.
    SendKeyFrame();
    const std::size_t payloadBytes = 5000 - kStart.size() - 1 - kTrailer.size();
    Send(Join({{0x5C, 0x81}, Bytes(payloadBytes / 2, 0x11)}), false);
    Send(Join({{0x5C, 0x41}, Bytes(payloadBytes - payloadBytes / 2, 0x22)}), true);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[1].data.size(), 5000u);
    EXPECT_EQ(Frames()[1].capacity, 16384u);

    // One of 200000 bytes.
    Send(Join({{0x5C, 0x81}, Bytes(199990, 0x33)}), false);
    Send(Join({{0x5C, 0x41}, Bytes(1, 0x44)}), true);
    ASSERT_EQ(Frames().size(), 3u);
    EXPECT_EQ(Frames()[2].data.size(), 200000u);
    EXPECT_EQ(Frames()[2].capacity, 200000u);
}

TEST_F(H264Depacketizer, AFrameBeyondTenMebibytesIsLoggedAndDropped)
{
    // Fragments up to exactly the limit, then the last one with the marker bit: `extra` bytes more.
    const auto sendFrameOf = [this](std::size_t extra)
    {
        const std::size_t limit = CRTPMediaParser::kFrameBufferLimit;
        Send(Join({{0x5C, 0x81}, Bytes(60000, 0x11)}), false);
        std::size_t held = kStart.size() + 1 + 60000;
        for (; held + 60000 < limit; held += 60000)
            Send(Join({{0x5C, 0x01}, Bytes(60000, 0x22)}), false);
        Send(Join({{0x5C, 0x41}, Bytes(limit - held + extra, 0x33)}), true);
    };
    SendKeyFrame();
    sendFrameOf(0);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Frames()[1].data.size(), CRTPMediaParser::kFrameBufferLimit + kTrailer.size());
    EXPECT_TRUE(driver.lines.empty());

    sendFrameOf(1);
    Send(slice, true);
    EXPECT_EQ(Frames().size(), 2u) << "the frame and what follows up to a key frame are dropped";
    ASSERT_EQ(driver.lines.size(), 1u);
    EXPECT_EQ(driver.lines[0].first, kLogError);
    EXPECT_EQ(driver.lines[0].second,
              "kestrav::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device 192.0.2.7:8080");

    SendKeyFrame();
    EXPECT_EQ(Frames().size(), 3u);
}

TEST_F(H264Depacketizer, WithoutAHostBufferTheFrameIsDroppedAndTheStreamGoesOn)
{
    SendKeyFrame();
    kit.Allocator().FailNextAllocations(1);
    Send(slice, true);
    Send(slice, true);
    ASSERT_EQ(Frames().size(), 2u) << "the frame after the refused allocation arrives";
    EXPECT_EQ(Frames()[1].typeCode, ipcapture::kTypeCodeI264);

    driver.withAllocator = false;
    Send(slice, true);
    driver.withAllocator = true;
    Send(slice, true);
    EXPECT_EQ(Frames().size(), 3u);
    EXPECT_EQ(FrameData(2), Join({kStart, slice, kTrailer})) << "nothing of the dropped frame is left over";
}

TEST_F(H264Depacketizer, ARefusedFrameIsReleasedAndTheParserWaitsForAKeyFrame)
{
    SendKeyFrame();
    kit.Sink().SetAccept(false);
    Send(slice, true);
    kit.Sink().SetAccept(true);
    Send(slice, true);
    EXPECT_EQ(kit.Sink().DeliveredCount(), 2u) << "the key frame and the refused one";
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
    EXPECT_EQ(kit.Allocator().ReleasedCount(), 2u);
    SendKeyFrame();
    EXPECT_EQ(kit.Sink().DeliveredCount(), 3u);
}

TEST_F(H264Depacketizer, WithoutAClientNothingIsProducedAndNothingLeaks)
{
    CH264RTPMediaParser orphan(&driver);
    CRTPPacket packet;
    ASSERT_TRUE(packet.Parse(testing::RtpDatagram(1, 0, true, StapA({sps, kPps, idr}))));
    orphan.ProcessPacket(packet);
    EXPECT_EQ(kit.Allocator().GrantedCount(), 0u);
}
}
}
