#include <gtest/gtest.h>

#include <string>

#include "http/camera_answer_readers.h"

namespace kestrav
{
namespace
{
// The simulated camera's own answers.
constexpr const char* kServerAnswer = "Model Name=VC-4220\r\n"
                                      "MAC address=00:1C:A8:12:34:56\r\n"
                                      "Software Version=2.4.1 build 0312\r\n"
                                      "SysFeature=35\r\n"
                                      "logoEnable=15\r\n";
constexpr const char* kProfileAnswer = "profile_00_name=H264 1080P\r\n"
                                       "profile_00_fps_range=1~30\r\n"
                                       "profile_00_bps_range=1024,2048,3072,4096,5120,6144,7168,8192\r\n"
                                       "profile_00_quality_range=\r\n"
                                       "profile_01_name=H264 720P\r\n"
                                       "profile_01_fps_range=1~30\r\n"
                                       "profile_01_bps_range=1024,2048,3072,4096,5120\r\n"
                                       "profile_01_quality_range=\r\n"
                                       "profile_02_name=JPEG D1\r\n"
                                       "profile_02_fps_range=1~25\r\n"
                                       "profile_02_bps_range=\r\n"
                                       "profile_02_quality_range=20,30,40,50,60,70,80\r\n";

TEST(FrameRateCode, IsTheRoundedIntervalUpTo30AndTheTaggedRateAbove)
{
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0, 1000}, {1, 1000}, {7, 143}, {12, 83}, {15, 67}, {25, 40}, {30, 33}, {31, 0x7000001F}, {120, 0x70000078}};
    for (const auto& [rate, code] : cases)
        EXPECT_EQ(FrameRateCode(rate), code) << rate;
}

TEST(AudioCapabilities, Text)
{
    CAudioCapabilities audio;
    audio.channelCount = 2;
    audio.isStereo = true;
    EXPECT_EQ(audio.GetText(), "Count=2; IsStereo=1");
}

TEST(ProfileName, GivesCodecAndTheSizeAUserExpects)
{
    struct Case
    {
        const char* name;
        std::uint32_t codec;
        const char* key; // "" when no size is known
        std::uint32_t width, height;
    };
    const Case cases[] = {
        {"h264 1080p", 1, "1080p", 1920, 1080},
        {"mjpeg d1", 3, "d1", 720, 480},
        {"mpeg-4 cif", 2, "cif", 352, 240},
        {"h.264 720p 1080p", 1, "1080p", 1920, 1080}, // table order among keys found apart
        {"h264 d1 480p", 1, "d1", 720, 480},
        {"h264 hd1080", 1, "hd1080", 1920, 1080}, // holds "d1"
        {"h264 hd720", 1, "hd720", 1280, 720},
        {"jpeg 4cif", 3, "4cif", 704, 576}, // holds "cif"
        {"jpeg qcif", 3, "qcif", 176, 144},
        {"mpeg4cif", 2, "cif", 352, 240},      // the codec word does not make "4cif"
        {"h2641080p", 1, "1080p", 1920, 1080}, // written without a blank
        {"h264 5m", 1, "5m", 2592, 1944},
        {"raw vga", 4, "", 0, 0},
        {"", 4, "", 0, 0},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(ClassifyProfileCodec(c.name), c.codec) << c.name;
        const auto resolution = LookUpResolution(c.name);
        if (*c.key == '\0')
        {
            EXPECT_FALSE(resolution) << c.name;
            continue;
        }
        ASSERT_TRUE(resolution) << c.name;
        EXPECT_EQ(resolution->name, c.key) << c.name;
        EXPECT_EQ(resolution->width, c.width) << c.name;
        EXPECT_EQ(resolution->height, c.height) << c.name;
    }
}

// A camera's line may be as long as its answer (up to 1 MiB): reading it must not take time by the square
// of its length (the test's time limit would end it).
TEST(ProfileName, LongHostileNamesAreReadInLinearTime)
{
    std::string codecWords;
    std::string shortKeys;
    for (int i = 0; i < 200000; ++i)
    {
        codecWords += "h264";
        shortKeys += "d1";
    }
    const auto first = LookUpResolution(codecWords + "cif");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, "cif");
    const auto second = LookUpResolution(shortKeys);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->name, "d1");
}

TEST(ServerAnswer, ReadsIdentityFeaturesAndBrand)
{
    DeviceCapabilities capabilities;
    ReadServerAnswer(kServerAnswer, capabilities);
    EXPECT_EQ(capabilities.modelName, "VC-4220");
    EXPECT_EQ(capabilities.macAddress, "00:1C:A8:12:34:56");
    EXPECT_EQ(capabilities.softwareVersion, "2.4.1 build 0312");
    EXPECT_EQ(capabilities.manufacturer, "Brantel");
    EXPECT_EQ(capabilities.ptzPresent, 1);
    EXPECT_EQ(capabilities.ptzSecond, 1);
    EXPECT_EQ(capabilities.ptzPresetCount, 128u);
    EXPECT_EQ(capabilities.inputCount, 1u);
    EXPECT_EQ(capabilities.outputCount, 1u);

    DeviceCapabilities untouched;
    ReadServerAnswer("Model Name=\r\nlogoEnable=7\r\n", untouched);
    EXPECT_EQ(untouched, DeviceCapabilities{});
}

TEST(ServerAnswer, FeatureBitsAndLogo)
{
    struct Case
    {
        const char* line;
        std::uint8_t ptzPresent, ptzSecond;
        std::uint32_t presets, inputs, outputs;
        bool a, b;
        const char* manufacturer;
    };
    const Case cases[] = {
        {"SysFeature=33", 1, 1, 128, 1, 0, false, false, "VARON"},
        {"SysFeature=1,048,576", 0, 0, 0, 1, 0, false, false, "VARON"}, // thousands separators
        {"SysFeature= 2 097 152", 1, 1, 0, 0, 0, false, false, "VARON"},
        {"SysFeature=1048576", 0, 1, 0, 0, 0, false, false, "VARON"},
        {"SysFeature=131072", 1, 1, 128, 0, 0, false, false, "VARON"},
        {"SysFeature=266242", 0, 0, 0, 0, 1, true, true, "VARON"}, // 0x41002
        {"SysFeature=abc", 0, 0, 0, 0, 0, false, false, "VARON"},
        {"logoEnable=1", 0, 0, 0, 0, 0, false, false, "VARON"},
        {"logoEnable=15xyz", 0, 0, 0, 0, 0, false, false, "Brantel"},
        {"logoEnable=99999999999999", 0, 0, 0, 0, 0, false, false, "VARON"},
    };
    for (const Case& c : cases)
    {
        DeviceCapabilities capabilities;
        capabilities.manufacturer = "VARON";
        ReadServerAnswer(std::string(c.line) + "\r\n", capabilities);
        EXPECT_EQ(capabilities.ptzPresent, c.ptzPresent) << c.line;
        EXPECT_EQ(capabilities.ptzSecond, c.ptzSecond) << c.line;
        EXPECT_EQ(capabilities.ptzPresetCount, c.presets) << c.line;
        EXPECT_EQ(capabilities.inputCount, c.inputs) << c.line;
        EXPECT_EQ(capabilities.outputCount, c.outputs) << c.line;
        EXPECT_EQ(capabilities.featureFlagA, c.a) << c.line;
        EXPECT_EQ(capabilities.featureFlagB, c.b) << c.line;
        EXPECT_EQ(capabilities.manufacturer, c.manufacturer) << c.line;
    }
}

TEST(ProfileAnswer, ProfilesGoToTheirStreamsWithTheirRanges)
{
    DeviceCapabilities capabilities;
    EXPECT_EQ(ReadProfileAnswer(kProfileAnswer, capabilities), 3u);
    ASSERT_EQ(capabilities.streams.size(), 3u);
    const ResolutionCapability& fullHd = capabilities.streams[0].codecs.at(0).resolutions.at("1080p");
    EXPECT_EQ(fullHd.maxFrameRate, 30u);
    EXPECT_EQ(fullHd.bitRates.size(), 8u);
    EXPECT_EQ(fullHd.qualities, (std::set<std::uint32_t>{20, 30, 40, 50, 60, 70, 80}));
    const CodecCapability& jpeg = capabilities.streams[2].codecs.at(0);
    EXPECT_EQ(jpeg.codecId, kCapabilityCodecJpeg);
    EXPECT_EQ(jpeg.resolutions.at("d1").maxFrameRate, 25u) << "fps range lowers the resolution";
    EXPECT_EQ(jpeg.resolutions.at("d1").bitRates, (std::set<std::uint32_t>{128, 256, 512, 1024, 2048, 3072}));
    EXPECT_EQ(capabilities.streams[2].maxFrameRate, 30u) << "the stream's maximum stays";

    DeviceCapabilities single;
    single.multipleStreaming = false;
    EXPECT_EQ(ReadProfileAnswer(kProfileAnswer, single), 3u);
    ASSERT_EQ(single.streams.size(), 1u);
    ASSERT_EQ(single.streams[0].codecs.size(), 2u);
    EXPECT_EQ(single.streams[0].codecs[0].resolutions.size(), 2u) << "1080p and 720p under one H.264 entry";
}

TEST(ProfileAnswer, ALeftOutProfileKeepsItsStreamInPlace)
{
    DeviceCapabilities capabilities;
    EXPECT_EQ(ReadProfileAnswer("profile_00_name=H264 D1\r\nprofile_01_name=H264 VGA\r\nprofile_02_name=JPEG CIF\r\n",
                                capabilities),
              2u);
    ASSERT_EQ(capabilities.streams.size(), 3u);
    EXPECT_TRUE(capabilities.streams[1].codecs.empty());
    EXPECT_EQ(capabilities.streams[2].codecs.at(0).codecId, kCapabilityCodecJpeg);
}

TEST(ProfileAnswer, ScanStopsAtTheFirstMissingNameAndCountsTheCamerasOwnNumbering)
{
    DeviceCapabilities none;
    EXPECT_EQ(ReadProfileAnswer("profile_01_name=H264 D1\r\n", none), 0u);
    EXPECT_TRUE(none.streams.empty());

    std::string eleven;
    for (int i = 0; i <= 10; ++i)
        eleven += "profile_0" + std::to_string(i) + "_name=H264 " + (i == 10 ? "5M" : "CIF") + "\r\n";
    DeviceCapabilities capabilities;
    EXPECT_EQ(ReadProfileAnswer(eleven, capabilities), 11u);
    EXPECT_TRUE(capabilities.streams[0].codecs[0].resolutions.contains("5m")) << "profile_010_ is profile 10";
}

// A bad range leaves out its profile only; a profile of no known size is left out instead of becoming an
// unnamed, zero-sized resolution.
TEST(ProfileAnswer, BrokenProfilesAreLeftOutAndTheRestCounts)
{
    std::string longList;
    for (int i = 1; i <= 200; ++i)
        longList += std::to_string(i * 10) + ",";
    struct Case
    {
        std::string field;
        bool kept;
        std::uint32_t maxFrameRate;
        std::size_t bitRates;
    };
    const Case cases[] = {
        {"fps_range=1~25", true, 25, 6},        {"fps_range=30~1", true, 30, 6}, // min not below max: the table's rate
        {"fps_range=15", true, 30, 6},          {"fps_range=1~120", true, 120, 6},
        {"fps_range=-10~-5", false, 0, 0},      {"fps_range=1~100000", false, 0, 0},
        {"fps_range=0~30", false, 0, 0},        {"bps_range=" + longList, true, 30, kMaxProfileRangeValues},
        {"bps_range=512, 1024,,", true, 30, 2}, {"bps_range=512,-1", false, 0, 0},
        {"bps_range=512,abc", false, 0, 0},     {"quality_range=0,50", false, 0, 0},
        {"quality_range=50,101", false, 0, 0},
    };
    for (const Case& c : cases)
    {
        const std::string answer = "profile_00_name=H264 D1\r\nprofile_00_" + c.field +
                                   "\r\nprofile_01_name=H264 VGA\r\nprofile_02_name=JPEG CIF\r\n";
        DeviceCapabilities capabilities;
        capabilities.multipleStreaming = false;
        EXPECT_EQ(ReadProfileAnswer(answer, capabilities), c.kept ? 2u : 1u) << c.field;
        ASSERT_EQ(capabilities.streams.size(), 1u);
        const auto& codecs = capabilities.streams[0].codecs;
        EXPECT_EQ(codecs.back().codecId, kCapabilityCodecJpeg) << c.field;
        ASSERT_EQ(codecs.size(), c.kept ? 2u : 1u) << c.field;
        if (!c.kept)
            continue;
        const ResolutionCapability& d1 = codecs[0].resolutions.at("d1");
        EXPECT_EQ(d1.maxFrameRate, c.maxFrameRate) << c.field;
        EXPECT_EQ(d1.bitRates.size(), c.bitRates) << c.field;
        EXPECT_EQ(codecs[0].resolutions.size(), 1u) << "the VGA profile is left out";
        EXPECT_LE(capabilities.streams[0].maxFrameRate, kMaxProfileFrameRate);
    }
}
}
}
