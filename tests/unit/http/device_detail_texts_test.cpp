#include <gtest/gtest.h>

#include "core/device_detail_texts.h"

namespace kestrav
{
namespace
{
TEST(DeviceDetailTexts, FreshRecordWritesNoneForEveryEmptyText)
{
    const DeviceCapabilities fresh;
    EXPECT_EQ(fresh.modelName, "IP Device");
    EXPECT_EQ(fresh.manufacturer, "VARON");
    EXPECT_TRUE(fresh.multipleStreaming);

    const std::vector<DeviceDetailText> expected = {
        {1, "Video standard", "0", 0},           {2, "Firmware", "(none)", 1},
        {3, "MAC address", "(none)", 1},         {4, "RTSP port", "554", 0},
        {5, "Stream capabilities", "(none)", 1}, {6, "PTZ features", "0,0,0", 1},
    };
    EXPECT_EQ(MakeDeviceDetailTexts(fresh, 0), expected);
}

TEST(DeviceDetailTexts, WritesWhatTheCameraReported)
{
    DeviceCapabilities capabilities;
    capabilities.softwareVersion = "2.0.1";
    capabilities.macAddress = "00:11:22:33:44:55";
    capabilities.rtspPort = 8554;
    capabilities.ptzPresent = 1;
    capabilities.ptzSecond = 0x80; // any non-zero flag is written as 1
    capabilities.ptzPresetCount = 128;
    ResolutionCapability d1;
    d1.name = "d1";
    d1.width = 720;
    d1.height = 480;
    d1.maxFrameRate = 30;
    d1.bitRates = {128};
    d1.qualities = {50};
    capabilities.streams[0].codecs.push_back(CodecCapability{kCapabilityCodecJpeg, {{"d1", d1}}});

    const auto texts = MakeDeviceDetailTexts(capabilities, 1);
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0].value, "1");
    EXPECT_EQ(texts[1].value, "2.0.1");
    EXPECT_EQ(texts[2].value, "00:11:22:33:44:55");
    EXPECT_EQ(texts[3].value, "8554");
    EXPECT_EQ(texts[4].value, "jpeg:d1 720x480 30 128- 50-,;#");
    EXPECT_EQ(texts[5].value, "1,1,128");
}
}
}
