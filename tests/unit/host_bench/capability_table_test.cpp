#include <gtest/gtest.h>

#include "tools/host/capability_table.h"

namespace kestrav::hostbench
{
namespace
{
TEST(HostBenchCapabilityTable, StreamCapabilitiesAreReadPerStreamCodecAndResolution)
{
    const auto streams = ReadStreamCapabilities("h264:1080p 1920x1080 30 1024-2048- 20-30-,720p 1280x720 30 1024- 20-,;"
                                                "jpeg:d1 720x480 25  20-30-40-50-60-,;#"
                                                "cif 352x240 30 128- 20-,;#");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].kind, "main");
    ASSERT_EQ(streams[0].profiles.size(), 3u);
    const ProfileCapability& jpeg = streams[0].profiles[2];
    EXPECT_EQ(jpeg.codec, "jpeg");
    EXPECT_EQ(jpeg.name, "d1");
    EXPECT_EQ(jpeg.size, "720x480");
    EXPECT_EQ(jpeg.maxFrameRate, "25");
    EXPECT_TRUE(jpeg.bitRates.empty());
    EXPECT_EQ(jpeg.qualities.size(), 5u);
    EXPECT_EQ(streams[0].profiles[0].bitRates, (std::vector<std::string>{"1024", "2048"}));
    EXPECT_EQ(streams[1].kind, "live");
    ASSERT_EQ(streams[1].profiles.size(), 1u);
    EXPECT_EQ(streams[1].profiles[0].codec, "other") << "an entry without a codec prefix";
    EXPECT_TRUE(ReadStreamCapabilities("").empty());
}

TEST(HostBenchCapabilityTable, FrameRateCodesReadAsTheHostMeansThem)
{
    EXPECT_EQ(FrameRateCodeText(0x701E), "30 fps");
    EXPECT_EQ(FrameRateCodeText(0), "1 fps");
    EXPECT_EQ(FrameRateCodeText(33), "30 fps") << "an interval in milliseconds";
    EXPECT_EQ(FrameRateCodeText(67), "15 fps");
    EXPECT_EQ(FrameRateCodeText(1000), "1 fps");
}
}
}
