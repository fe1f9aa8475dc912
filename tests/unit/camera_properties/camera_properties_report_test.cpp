#include <gtest/gtest.h>

#include "http/base_camera_properties.h"
#include "recording_results.h"

namespace kestrav
{
namespace
{
using testing::RecordingResults;

// The generic reporting over a record given by the test.
class GivenProperties : public CBaseCameraProperties
{
public:
    explicit GivenProperties(std::uint32_t videoStandard = 0) : CBaseCameraProperties(Device(), videoStandard) {}
    void Apply(const DeviceCapabilities& capabilities) { ApplyCapabilities(capabilities); }
    bool ReportDeviceDetails(ipcapture::IIPCapabilityResults& results) override
    {
        return WriteNamedText(results, 6, "PTZ features", "", 1);
    }
    bool GetCameraProperties(std::uint32_t&) override { return false; }

    static DEVICE_INFO Device()
    {
        DEVICE_INFO device;
        device.address = "10.0.0.5";
        device.port = 8080;
        device.userName = "admin";
        device.password = "";
        return device;
    }
};

ResolutionCapability Resolution(const char* name, std::uint32_t width, std::uint32_t height, std::uint32_t fps)
{
    ResolutionCapability resolution;
    resolution.name = name;
    resolution.width = width;
    resolution.height = height;
    resolution.maxFrameRate = fps;
    return resolution;
}

// Main: H.264 1080p (25 fps) and JPEG d1 + 480p (one size); live: H.264 cif; remote: MPEG-4 with an unnamed,
// zero-sized entry as an older reader made them.
DeviceCapabilities ThreeStreams()
{
    DeviceCapabilities capabilities;
    capabilities.modelName = "VC-4220";
    capabilities.manufacturer = "Brantel";
    capabilities.ptzPresent = 1;
    capabilities.inputCount = 1;
    capabilities.outputCount = 2;
    capabilities.featureFlagA = true;
    capabilities.featureFlagB = true;
    StreamCapability& main = capabilities.streams[0];
    main.codecs.push_back({kCapabilityCodecH264, {{"1080p", Resolution("1080p", 1920, 1080, 25)}}});
    main.codecs.push_back(
        {kCapabilityCodecJpeg, {{"d1", Resolution("d1", 720, 480, 30)}, {"480p", Resolution("480p", 720, 480, 15)}}});
    capabilities.streams[1].codecs.push_back({kCapabilityCodecH264, {{"cif", Resolution("cif", 352, 240, 30)}}});
    capabilities.streams[2].codecs.push_back({kCapabilityCodecMpeg4, {{"", Resolution("", 0, 0, 0)}}});
    capabilities.streams[2].maxFrameRate = 12;
    return capabilities;
}

TEST(CameraPropertiesReport, WritesEveryValueListAndTextOfThreeStreams)
{
    GivenProperties properties;
    properties.Apply(ThreeStreams());
    RecordingResults results;
    ASSERT_TRUE(properties.SaveCapabilities(&results));

    EXPECT_EQ(results.deviceName, "Brantel VC-4220");
    EXPECT_EQ(results.connection[1].text, "10.0.0.5");
    EXPECT_EQ(results.connection[2].text, "8080");
    EXPECT_EQ(results.connection[3].text, "admin");
    EXPECT_EQ(results.connection[4].text, "");
    const std::map<std::uint32_t, std::uint32_t> values{{0, 1},  {1, 1},  {2, 1},  {3, 2},  {5, 1},  {7, 1}, {8, 1},
                                                        {11, 0}, {12, 0}, {13, 4}, {14, 1}, {17, 0}, {27, 2}};
    EXPECT_EQ(results.values, values);
    // d1 and 480p are one size, offered once with the higher rate (the smaller code); 1080p keeps its 25.
    EXPECT_EQ(results.resolutions.entries,
              (std::vector<RecordingResults::Resolution>{{"1920x1080", 1920, 1080, 40}, {"720x480", 720, 480, 33}}));
    EXPECT_EQ(results.lists[1].values.size(), 30u);
    EXPECT_EQ(results.lists[1].defaultValue, 67);
    EXPECT_EQ(results.lists[3].defaultValue, 40);

    EXPECT_EQ(results.named[120].name, "Live Stream: Supported Codecs");
    EXPECT_EQ(results.named[120].text, "h264");
    EXPECT_EQ(results.named[121].text, "352x240:33");
    EXPECT_EQ(results.named[124].text, "mpeg");
    EXPECT_EQ(results.named[125].text, "(none)") << "the zero-sized entry is not offered";
    EXPECT_EQ(results.named[125].editable, 0);
    EXPECT_EQ(results.named[126].text, "values=1000,500,333,250,200,167,143,125,111,100,91,83;default=83");
    EXPECT_EQ(results.named[6].text, "(none)");
    EXPECT_EQ(results.named[6].flag, 1);
}

TEST(CameraPropertiesReport, FrameRateTextOfAThirtyFrameStream)
{
    DeviceCapabilities capabilities;
    capabilities.streams[0].codecs.push_back({kCapabilityCodecH264, {{"d1", Resolution("d1", 720, 480, 30)}}});
    GivenProperties properties;
    properties.Apply(capabilities);
    EXPECT_EQ(properties.GetFrameRatesText(kStreamKindMain),
              "values=1000,500,333,250,200,167,143,125,111,100,91,83,77,71,67,63,59,56,53,50,48,45,43,42,40,38,37,36,"
              "34,33;default=67");
    EXPECT_EQ(properties.GetCodecsText(kStreamKindMain), "h264");
    EXPECT_EQ(properties.GetFrameRatesText(kStreamKindLive), "values=;default=1000");
}

TEST(CameraPropertiesReport, StopsAtTheFirstStepThatCannotBeWritten)
{
    struct Case
    {
        const char* what;
        void (*change)(DeviceCapabilities&);
    };
    const Case cases[] = {
        {"no model name", [](DeviceCapabilities& c) { c.modelName.clear(); }},
        {"no main codec of the three",
         [](DeviceCapabilities& c) {
             c.streams[0].codecs = {{kCapabilityCodecOther, {{"d1", Resolution("d1", 720, 480, 30)}}}};
         }},
        {"no main resolution",
         [](DeviceCapabilities& c) {
             c.streams[0].codecs = {{kCapabilityCodecH264, {}}};
         }},
    };
    for (const Case& c : cases)
    {
        DeviceCapabilities capabilities = ThreeStreams();
        c.change(capabilities);
        GivenProperties properties;
        properties.Apply(capabilities);
        RecordingResults results;
        EXPECT_FALSE(properties.SaveCapabilities(&results)) << c.what;
        EXPECT_TRUE(results.named.empty()) << c.what;
    }
    GivenProperties nothingApplied;
    RecordingResults results;
    EXPECT_FALSE(nothingApplied.SaveCapabilities(&results));
    EXPECT_FALSE(nothingApplied.SaveCapabilities(nullptr));
}
}
}
