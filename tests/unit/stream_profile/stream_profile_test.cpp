#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "channels/privacy_mask.h"
#include "channels/stream_profile.h"
#include "core/stream_capability_text.h"

namespace kestrav
{
namespace
{
ResolutionCapability Resolution(std::string name, std::uint32_t width, std::uint32_t height)
{
    ResolutionCapability resolution;
    resolution.name = std::move(name);
    resolution.width = width;
    resolution.height = height;
    return resolution;
}

ResolutionMap Map(std::initializer_list<ResolutionCapability> resolutions)
{
    ResolutionMap map;
    for (const ResolutionCapability& resolution : resolutions)
        map.emplace(resolution.name, resolution);
    return map;
}

TEST(NearestResolution, PicksTheNearestAreaAndTheFirstNameOnATie)
{
    const ResolutionMap offered =
        Map({Resolution("1080p", 1920, 1080), Resolution("720p", 1280, 720), Resolution("d1", 720, 480)});
    EXPECT_EQ(NearestResolution(offered, 1280, 720), "720p");
    EXPECT_EQ(NearestResolution(offered, 1024, 768), "720p") << "786432 is nearer 921600 than 345600";
    EXPECT_EQ(NearestResolution(offered, 4000, 3000), "1080p");
    EXPECT_EQ(NearestResolution(offered, 0, 0), "d1");

    const ResolutionMap sameSize = Map({Resolution("d1", 720, 480), Resolution("480p", 720, 480)});
    EXPECT_EQ(NearestResolution(sameSize, 720, 480), "480p");
    EXPECT_EQ(NearestResolution({}, 720, 480), "");
}

TEST(NearestResolution, HugeSizesDoNotWrapAround)
{
    // 65536 × 65536 wraps to 0 in 32 bits and would look like the nearest to a tiny request.
    const ResolutionMap offered = Map({Resolution("big", 65536, 65536), Resolution("cif", 352, 288)});
    EXPECT_EQ(NearestResolution(offered, 1, 1), "cif");
    EXPECT_EQ(NearestResolution(offered, 0xFFFFFFFFu, 0xFFFFFFFFu), "big");
}

TEST(CollectResolutions, MergesTheEntriesOfOneCodecByName)
{
    const std::vector<CodecCapability> codecs =
        ReadStreamCodecs("h264:1080p 1920x1080 30 1024- -,;jpeg:d1 720x480 25  20-50-,;h264:720p 1280x720 30 512- -,"
                         "1080p 1x1 5 1- -,;#",
                         0);
    const ResolutionMap h264 = CollectResolutions(codecs, kCapabilityCodecH264);
    ASSERT_EQ(h264.size(), 2u);
    EXPECT_EQ(h264.at("1080p").width, 1920u) << "the first entry of a name wins";
    EXPECT_EQ(h264.at("720p").bitRates, (std::set<std::uint32_t>{512}));
    EXPECT_EQ(CollectResolutions(codecs, kCapabilityCodecJpeg).size(), 1u);
    EXPECT_TRUE(CollectResolutions(codecs, kCapabilityCodecMpeg4).empty());
}

TEST(CollectResolutions, LeavesOutMalformedResolutionsWithoutAName)
{
    const std::vector<CodecCapability> codecs = ReadStreamCodecs("h264:garbage,720p 1280x720 30 512- -,;#", 0);
    const ResolutionMap h264 = CollectResolutions(codecs, kCapabilityCodecH264);
    ASSERT_EQ(h264.size(), 1u);
    EXPECT_EQ(NearestResolution(h264, 0, 0), "720p") << "an unnamed entry would give the path \"rtsph264\"";
}

TEST(FrameRateFromCode, ReadsTheThreeForms)
{
    EXPECT_EQ(FrameRateFromCode(0), 1u);
    EXPECT_EQ(FrameRateFromCode(40), 25u);
    EXPECT_EQ(FrameRateFromCode(0x7000 + 50), 50u);
    EXPECT_EQ(FrameRateFromCode(0x7FFF), 0xFFFu);
    EXPECT_EQ(FrameRateFromCode(3), 333u) << "1000 / 3 rounded";
    EXPECT_EQ(FrameRateFromCode(1500), 1u);
    EXPECT_EQ(FrameRateFromCode(3000), 0u);
    EXPECT_EQ(FrameRateFromCode(0x6000), 0u) << "not all three bits: an interval of 24576 ms";
}

TEST(NearestToLevel, FollowsTheQualityAcrossTheSet)
{
    const std::set<std::uint32_t> bitRates{1024, 2048, 3072, 4096, 5120};
    EXPECT_EQ(NearestToLevel(bitRates, 50), 3072u);
    EXPECT_EQ(NearestToLevel(bitRates, 0), 1024u);
    EXPECT_EQ(NearestToLevel(bitRates, 100), 5120u);
    EXPECT_EQ(NearestToLevel(bitRates, 1000), 5120u) << "the target stays within the set";
    EXPECT_EQ(NearestToLevel(bitRates, 60), 3072u) << "target 3481.6";

    const std::set<std::uint32_t> wide{1024, 2048, 3072, 4096, 5120, 6144, 7168, 8192};
    EXPECT_EQ(NearestToLevel(wide, 50), 4096u) << "4608 lies midway: the smaller member wins";
    EXPECT_EQ(NearestToLevel({}, 50), 0u);
    EXPECT_EQ(NearestToLevel({7}, 50), 7u);
    EXPECT_EQ(NearestToLevel({10, 500000}, 0), 10u);
    EXPECT_EQ(NearestToLevel({10, 500000}, 60), 500000u) << "members far beyond 100000 still count";
}

TEST(PrivacyMask, PercentagesBecomeGridCellsClampedToTheGrid)
{
    const PrivacyMask lowerRight = PrivacyMaskFromPercent(50, 50, 50, 50);
    EXPECT_EQ(lowerRight, (PrivacyMask{10, 6, 19, 11}));
    EXPECT_EQ(PrivacyMaskRequest(3, lowerRight), "/privacymask?cmd=set&privacy_enable=1&pmID=3&pmBlock=130v239v");

    // The fraction is dropped after the sum: 4.9 + 0.2 reaches column 1, 4 + 0 would not.
    EXPECT_EQ(PrivacyMaskFromPercent(4.9, 0, 0.2, 0).rightColumn, 1u);
    EXPECT_EQ(PrivacyMaskFromPercent(0, 0, 100, 100), (PrivacyMask{0, 0, 19, 11}));
}

TEST(PrivacyMask, HostileHostValuesStayOnTheGrid)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(PrivacyMaskFromPercent(-30, -1e300, nan, nan), (PrivacyMask{0, 0, 0, 0}));
    EXPECT_EQ(PrivacyMaskFromPercent(infinity, 1e300, 5, 5), (PrivacyMask{19, 11, 19, 11}));
}

TEST(PrivacyMask, AnEmptyMaskClearsItsSlot)
{
    EXPECT_TRUE(PrivacyMask{}.IsEmpty());
    EXPECT_FALSE((PrivacyMask{0, 0, 1, 0}).IsEmpty());
    EXPECT_EQ(PrivacyMaskRequest(4, PrivacyMask{}), "/privacymask?cmd=set&pmClear=4");
    EXPECT_EQ(PrivacyMaskRequest(1, PrivacyMask{0, 0, 1, 0}),
              "/privacymask?cmd=set&privacy_enable=1&pmID=1&pmBlock=0v1v");
}
}
}
