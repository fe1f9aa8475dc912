// The picture size read from sequence parameter sets: crafted ones for cropping, field coding,
// chroma formats, scaling matrices and malformed input; and the sets of the recorded streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/bit_reader.h"
#include "media/h264_sps_reader.h"
#include "sps_builder.h"

namespace kestrav
{
namespace
{
using testing::BuildSps;
using Bytes = std::vector<std::uint8_t>;
using testing::SpsFields;

std::optional<std::pair<std::uint32_t, std::uint32_t>> SizeOf(const Bytes& nalUnit)
{
    const std::optional<H264SequenceParameters> sps = ReadH264SequenceParameters(nalUnit);
    if (!sps)
        return std::nullopt;
    return std::make_pair(sps->width, sps->height);
}

using Size = std::pair<std::uint32_t, std::uint32_t>;

SpsFields HighProfile(std::uint32_t chromaFormatIdc, std::uint64_t widthInMbs, std::uint64_t heightInMapUnits)
{
    SpsFields f;
    f.profileIdc = chromaFormatIdc == 3 ? 244 : (chromaFormatIdc == 2 ? 122 : 100);
    f.withChromaFields = true;
    f.chromaFormatIdc = chromaFormatIdc;
    f.widthInMbsMinus1 = widthInMbs - 1;
    f.heightInMapUnitsMinus1 = heightInMapUnits - 1;
    return f;
}

TEST(BitReader, ReadsFieldsAndCodesMostSignificantBitFirst)
{
    const Bytes bytes = {0xA5, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
    CBitReader reader(bytes);
    EXPECT_EQ(reader.ReadBits(3), 0b101u);
    EXPECT_EQ(reader.ReadBits(9), 0b001010000u) << "across a byte boundary";
    EXPECT_EQ(reader.ReadBits(32), 0xFFFFFFFFu);
    EXPECT_EQ(reader.BitsLeft(), 4u);
    EXPECT_FALSE(reader.Failed());

    // ue: 1 → 0, 010 → 1, 011 → 2, 00100 → 3; se: 010 → 1, 011 → -1, 00100 → 2.
    const Bytes codes = {0b10100110, 0b01000100, 0b11001000};
    CBitReader golomb(codes);
    for (const std::uint32_t expected : {0u, 1u, 2u, 3u})
        EXPECT_EQ(golomb.ReadUnsignedExpGolomb(), expected);
    for (const std::int64_t expected : {1, -1, 2})
        EXPECT_EQ(golomb.ReadSignedExpGolomb(), expected);
    EXPECT_FALSE(golomb.Failed());

    // 31 leading zeros give the largest code, 2^32 - 2.
    testing::BitWriter largest;
    largest.UnsignedExpGolomb(0xFFFFFFFEull);
    const Bytes largestBytes = largest.RbspBytes();
    CBitReader longest(largestBytes);
    EXPECT_EQ(longest.ReadUnsignedExpGolomb(), 0xFFFFFFFEu);
    EXPECT_FALSE(longest.Failed());
}

TEST(BitReader, NeverReadsPastItsBytesAndStaysFailed)
{
    const Bytes one = {0xFF};
    CBitReader reader(one);
    EXPECT_EQ(reader.ReadBits(9), 0u);
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.ReadBits(1), 0u) << "nothing is read after a failure";
    EXPECT_EQ(reader.BitsLeft(), 0u);

    const std::vector<std::pair<const char*, Bytes>> broken = {
        {"no bytes", {}},
        {"leading zeros up to the end", {0x00, 0x00}},
        {"fewer suffix bits than leading zeros", {0x00, 0x80}},
        {"32 leading zeros", {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    };
    for (const auto& [name, bytes] : broken)
    {
        CBitReader golomb(bytes);
        EXPECT_EQ(golomb.ReadUnsignedExpGolomb(), 0u) << name;
        EXPECT_TRUE(golomb.Failed()) << name;
    }
}

TEST(SpsReader, CroppingFollowsTheChromaFormatAndFieldCoding)
{
    // 4:2:0 frames crop in pairs of lines: 1088 coded lines, bottom 4 → 1080.
    SpsFields progressive = HighProfile(1, 120, 68);
    progressive.cropping = true;
    progressive.cropBottom = 4;
    EXPECT_EQ(SizeOf(BuildSps(progressive)), Size(1920, 1080));

    // The same in baseline profile, which has no chroma fields.
    SpsFields baseline = progressive;
    baseline.profileIdc = 66;
    baseline.withChromaFields = false;
    EXPECT_EQ(SizeOf(BuildSps(baseline)), Size(1920, 1080));

    // Field coding: 34 map units of macroblock pairs are 1088 lines; the cropping unit is 4 lines.
    SpsFields interlaced = HighProfile(1, 120, 34);
    interlaced.frameMbsOnly = false;
    interlaced.cropping = true;
    interlaced.cropBottom = 2;
    EXPECT_EQ(SizeOf(BuildSps(interlaced)), Size(1920, 1080));

    // 4:2:2: pairs across, single lines down.
    SpsFields chroma422 = HighProfile(2, 45, 36);
    chroma422.cropping = true;
    chroma422.cropLeft = 4;
    chroma422.cropBottom = 6;
    EXPECT_EQ(SizeOf(BuildSps(chroma422)), Size(712, 570));

    // 4:4:4, monochrome and separate colour planes crop single samples.
    SpsFields chroma444 = HighProfile(3, 13, 8);
    chroma444.cropping = true;
    chroma444.cropRight = 8;
    chroma444.cropTop = 3;
    chroma444.cropBottom = 5;
    EXPECT_EQ(SizeOf(BuildSps(chroma444)), Size(200, 120));

    SpsFields separatePlanes = chroma444;
    separatePlanes.separateColourPlane = true;
    EXPECT_EQ(SizeOf(BuildSps(separatePlanes)), Size(200, 120));

    SpsFields monochrome = HighProfile(0, 22, 18);
    monochrome.cropping = true;
    monochrome.cropRight = 1;
    monochrome.cropBottom = 1;
    EXPECT_EQ(SizeOf(BuildSps(monochrome)), Size(351, 287));
}

TEST(SpsReader, ReadsPastScalingMatricesOfEveryList)
{
    // 4:4:4 has twelve lists; lists 6 to 11 have 64 entries. A delta that makes the next
    // scale 0 ends a list early (the default matrix).
    SpsFields f = HighProfile(3, 40, 30);
    f.withScalingMatrix = true;
    f.scalingListCount = 12;
    f.scalingLists = {
        {0, std::vector<std::int64_t>(16, 1)},  {2, {-8}},
        {6, std::vector<std::int64_t>(64, 1)},  {9, {3, 4, -7, -8, 1}}, // 8 → 11 → 15 → 8 → 0: stops after four deltas
        {11, std::vector<std::int64_t>(64, 2)},
    };
    f.scalingLists[3].deltas.pop_back();
    const std::optional<H264SequenceParameters> sps = ReadH264SequenceParameters(BuildSps(f));
    ASSERT_TRUE(sps);
    EXPECT_EQ(sps->profileIdc, 244);
    EXPECT_EQ(sps->chromaFormatIdc, 3u);
    EXPECT_EQ(Size(sps->width, sps->height), Size(640, 480));

    // 4:2:0 High profile: eight lists.
    SpsFields high = HighProfile(1, 80, 45);
    high.withScalingMatrix = true;
    high.scalingLists = {{1, std::vector<std::int64_t>(16, 2)}, {7, std::vector<std::int64_t>(64, 3)}};
    EXPECT_EQ(SizeOf(BuildSps(high)), Size(1280, 720));

    // A delta outside -128..127 is not H.264.
    SpsFields outOfRange = high;
    outOfRange.scalingLists = {{0, {-129}}};
    EXPECT_EQ(SizeOf(BuildSps(outOfRange)), std::nullopt);
}

TEST(SpsReader, ChromaFieldsBelongToTheHighProfilesOnly)
{
    // CAVLC 4:4:4 Intra (44) carries them although its number is below 100.
    SpsFields cavlc444 = HighProfile(3, 20, 15);
    cavlc444.profileIdc = 44;
    EXPECT_EQ(SizeOf(BuildSps(cavlc444)), Size(320, 240));

    // Main profile (77) does not: its width code follows the picture order fields directly.
    SpsFields main = HighProfile(1, 20, 15);
    main.profileIdc = 77;
    main.withChromaFields = false;
    EXPECT_EQ(SizeOf(BuildSps(main)), Size(320, 240));
}

TEST(SpsReader, ReadsEveryPictureOrderCountType)
{
    SpsFields type1 = HighProfile(1, 22, 18);
    type1.picOrderCntType = 1;
    type1.offsetForNonRefPic = -5;
    type1.offsetsForRefFrame = {1, -2, 3};
    EXPECT_EQ(SizeOf(BuildSps(type1)), Size(352, 288));

    SpsFields type2 = type1;
    type2.picOrderCntType = 2;
    EXPECT_EQ(SizeOf(BuildSps(type2)), Size(352, 288));

    SpsFields type3 = type1;
    type3.picOrderCntType = 3;
    EXPECT_EQ(SizeOf(BuildSps(type3)), std::nullopt);

    // At most 255 offsets; a hostile count must not make the reader loop for billions.
    SpsFields longCycle = type1;
    longCycle.offsetsForRefFrame.assign(256, 0);
    EXPECT_EQ(SizeOf(BuildSps(longCycle)), std::nullopt);
    longCycle.offsetsForRefFrame.assign(255, 0);
    EXPECT_EQ(SizeOf(BuildSps(longCycle)), Size(352, 288));
}

TEST(SpsReader, RemovesEmulationPreventionBytes)
{
    // A large offset puts two dozen zero bits in a row, which the encoder breaks up with 00 00 03
    // where they fall on byte boundaries.
    SpsFields f = HighProfile(1, 40, 30);
    f.picOrderCntType = 1;
    Bytes unit;
    bool escaped = false;
    for (std::int64_t offset = -(std::int64_t{1} << 24); !escaped && offset > -(std::int64_t{1} << 24) - 64; --offset)
    {
        f.offsetForNonRefPic = offset;
        unit = BuildSps(f);
        for (std::size_t i = 2; i < unit.size(); ++i)
            escaped = escaped || (unit[i - 2] == 0 && unit[i - 1] == 0 && unit[i] == 3);
    }
    ASSERT_TRUE(escaped) << "the crafted set must contain an emulation prevention byte";
    EXPECT_EQ(SizeOf(unit), Size(640, 480));

    // The set ends at the next start code, even when the bytes after it would parse.
    Bytes truncated(unit.begin(), unit.begin() + 6);
    const Bytes next = {0x00, 0x00, 0x01, 0x68, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    truncated.insert(truncated.end(), next.begin(), next.end());
    EXPECT_EQ(SizeOf(truncated), std::nullopt);
}

TEST(SpsReader, RefusesWhatIsNoPlausibleSequenceSet)
{
    const Bytes valid = BuildSps(HighProfile(1, 80, 45));
    ASSERT_EQ(SizeOf(valid), Size(1280, 720));

    // Every cut before the last field read fails; none reads past the cut.
    for (std::size_t length = 0; length + 2 < valid.size(); ++length)
        EXPECT_EQ(SizeOf(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length))), std::nullopt)
            << "cut to " << length << " bytes";

    Bytes picture = valid;
    picture[0] = 0x68;
    EXPECT_EQ(SizeOf(picture), std::nullopt) << "a picture parameter set";

    SpsFields croppedAway = HighProfile(1, 10, 10);
    croppedAway.cropping = true;
    croppedAway.cropLeft = 40;
    croppedAway.cropRight = 40;
    EXPECT_EQ(SizeOf(BuildSps(croppedAway)), std::nullopt) << "cropping leaves no picture";
    croppedAway.cropRight = 39;
    EXPECT_EQ(SizeOf(BuildSps(croppedAway)), Size(2, 160));

    SpsFields hugeCrop = HighProfile(1, 10, 10);
    hugeCrop.cropping = true;
    hugeCrop.cropTop = 0xFFFFFFFEull;
    EXPECT_EQ(SizeOf(BuildSps(hugeCrop)), std::nullopt) << "no wrap-around to a small height";

    SpsFields huge = HighProfile(1, 0xFFFFFFFFull, 10);
    EXPECT_EQ(SizeOf(BuildSps(huge)), std::nullopt) << "wider than any level allows";

    SpsFields badChroma = HighProfile(1, 10, 10);
    badChroma.chromaFormatIdc = 4;
    EXPECT_EQ(SizeOf(BuildSps(badChroma)), std::nullopt);

    SpsFields badId = HighProfile(1, 10, 10);
    badId.spsId = 32;
    EXPECT_EQ(SizeOf(BuildSps(badId)), std::nullopt);

    // A code with 32 leading zeros.
    EXPECT_EQ(SizeOf(Bytes{0x67, 0x42, 0x00, 0x1F, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x01}),
              std::nullopt);
}
}
}
