#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "hostkit/host_capability_results.h"
#include "http/base_camera_properties.h"

namespace kestrav
{
namespace
{
using hostkit::HostCapabilityResults;

// The host kit's container, with every misuse failing the test where it happens.
std::unique_ptr<HostCapabilityResults> Results()
{
    auto misuse = std::make_shared<hostkit::MisuseMonitor>();
    misuse->SetMisuseHandler([](const std::string& text) { ADD_FAILURE() << "host object misuse: " << text; });
    return std::make_unique<HostCapabilityResults>(misuse);
}

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
    const auto results = Results();
    ASSERT_TRUE(properties.SaveCapabilities(results.get()));
    const hostkit::CapabilitySnapshot written = results->Snapshot();

    EXPECT_EQ(written.deviceName, "Brantel VC-4220");
    EXPECT_EQ(written.connectionItems.at(1).text, "10.0.0.5");
    EXPECT_EQ(written.connectionItems.at(2).text, "8080");
    EXPECT_EQ(written.connectionItems.at(3).text, "admin");
    EXPECT_EQ(written.connectionItems.at(4).text, "");
    const std::map<std::uint32_t, std::uint32_t> values{{0, 1},  {1, 1},  {2, 1},  {3, 2},  {5, 1},  {7, 1}, {8, 1},
                                                        {11, 0}, {12, 0}, {13, 4}, {14, 1}, {17, 0}, {27, 2}};
    EXPECT_EQ(written.values, values);
    // d1 and 480p are one size, offered once with the higher rate (the smaller code); 1080p keeps its 25.
    std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t, std::uint32_t>> resolutions;
    for (const hostkit::CapabilityResolutionRecord& entry : written.resolutions)
        resolutions.emplace_back(entry.text.value_or(""), entry.width, entry.height, entry.frameRateCode);
    EXPECT_EQ(resolutions, (decltype(resolutions){{"1920x1080", 1920, 1080, 40}, {"720x480", 720, 480, 33}}));
    EXPECT_EQ(written.valueLists.at(1).values.size(), 30u);
    EXPECT_EQ(written.valueLists.at(1).defaultValue, 67u);
    EXPECT_EQ(written.valueLists.at(3).defaultValue, 40u);

    const auto& named = written.namedItems;
    EXPECT_EQ(named.at(120).name, "Live Stream: Supported Codecs");
    EXPECT_EQ(named.at(120).text, "h264");
    EXPECT_EQ(named.at(121).text, "352x240:33");
    EXPECT_EQ(named.at(124).text, "mpeg");
    EXPECT_EQ(named.at(125).text, "(none)") << "the zero-sized entry is not offered";
    EXPECT_EQ(named.at(125).editable, 0);
    EXPECT_EQ(named.at(126).text, "values=1000,500,333,250,200,167,143,125,111,100,91,83;default=83");
    EXPECT_EQ(named.at(6).text, "(none)");
    EXPECT_EQ(named.at(6).flag, 1);
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
        const auto results = Results();
        EXPECT_FALSE(properties.SaveCapabilities(results.get())) << c.what;
        EXPECT_TRUE(results->Snapshot().namedItems.empty()) << c.what;
    }
    GivenProperties nothingApplied;
    EXPECT_FALSE(nothingApplied.SaveCapabilities(Results().get()));
    EXPECT_FALSE(nothingApplied.SaveCapabilities(nullptr));
}
}
}
