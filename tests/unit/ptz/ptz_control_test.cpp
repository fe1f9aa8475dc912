// The PTZ control's answers that need no camera: the capabilities read from the "PTZ features" text,
// the result codes of refused and invalid calls, and the preset file names a MAC address gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ptz/ptz_result_codes.h"
#include "ptz/varon_ptz_control.h"
#include "ptz/varon_ptz_handler.h"
#include "support/stub_driver.h"

namespace kestrav
{
namespace
{
class FeaturesDriver : public testing::StubDriver
{
public:
    FeaturesDriver() : StubDriver(nullptr) {}
    std::string GetParamString(std::int32_t index) override { return index == kPtzFeaturesParam ? features : ""; }
    std::string features;
};

TEST(PtzFeaturesTest, TextBecomesCapabilities)
{
    struct Case
    {
        const char* text;
        bool moves;
        bool zoom;
        std::int32_t presets;
    };
    const Case cases[] = {
        {"1,1,16", true, true, 16},   {"1,0,3", true, false, 3},
        {"0,1,0", false, true, 0},    {"1,1", false, false, 0},
        {"1,1,3,4", false, false, 0}, {"", false, false, 0},
        {"x,+1,-5", false, true, 0},  {"2,1,99999999999999999999", true, true, 256},
        {"1,1,12a", true, true, 0},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(test.text);
        const CPtzCapabilities capabilities = CVaronPTZControl::ParseFeatures(test.text);
        EXPECT_EQ(capabilities.pan && capabilities.tilt && capabilities.focus && capabilities.iris, test.moves);
        EXPECT_EQ(capabilities.pan || capabilities.tilt || capabilities.focus || capabilities.iris, test.moves);
        EXPECT_EQ(capabilities.zoom, test.zoom);
        EXPECT_FALSE(capabilities.areaZoom || capabilities.center || capabilities.unzoom);
        EXPECT_EQ(capabilities.GetMaximumPresets(), test.presets);
    }
}

TEST(PtzPresetFileNameTest, OnlyTwelveHexDigitsMakeAName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"00:40:8C:aa:BB:cc", "BrantelIPCapture_00408Caa"
                              "BBcc.preset"},
        {"00-40-8c-aa-bb-cc", "BrantelIPCapture_00408caabbcc.preset"},
        {"00408CAABBCC", "BrantelIPCapture_00408CAABBCC.preset"},
        {"", ""},
        {"../..", ""},
        {"00:40:8c:aa:bb", ""},
        {"00:40:8c:aa:bb:cc:dd", ""},
        {"00:40:8c:aa:bb:cg", ""},
        {"00 40 8c aa bb cc", ""},
        {"..:00408caabb", ""},
    };
    for (const auto& [mac, name] : cases)
        EXPECT_EQ(CVaronPTZHandler::PresetFileName("BrantelIPCapture", mac), name) << mac;
}

class PtzControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        directory = std::filesystem::temp_directory_path() / ("ptz-control-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory);
        store.Attach(new CXMLPrepositionReader("BrantelIPCapture", directory.string()));
        ASSERT_TRUE(store->Open("presets.preset"));
    }
    void TearDown() override
    {
        control.reset();
        store.Release();
        std::filesystem::remove_all(directory);
    }
    CVaronPTZControl& Open(const std::string& features)
    {
        driver.features = features;
        control = std::make_unique<CVaronPTZControl>(&driver, 0);
        EXPECT_TRUE(control->Open(store));
        return *control;
    }

    std::filesystem::path directory;
    TSmartPtr<CXMLPrepositionReader> store;
    FeaturesDriver driver;
    std::unique_ptr<CVaronPTZControl> control;
};

TEST_F(PtzControlTest, RefusedAndInvalidCallsAnswerTheirCodes)
{
    using Call = std::function<std::int32_t(IIPPTZApiEx&)>;
    struct Case
    {
        const char* features; // nullptr: a control never opened
        const char* what;
        Call call;
        std::int32_t result;
    };
    char buffer[8];
    const Case cases[] = {
        {"1,1,3", "no direction", [](IIPPTZApiEx& c) { return c.Move(10, 5); }, kPtzInvalidArgument},
        {"1,1,3", "direction 11", [](IIPPTZApiEx& c) { return c.Move(11, 5); }, kPtzInvalidArgument},
        {"1,1,3", "direction -1", [](IIPPTZApiEx& c) { return c.Move(-1, 5); }, kPtzInvalidArgument},
        {"1,1,3", "nothing to stop", [](IIPPTZApiEx& c) { return c.Stop(); }, kPtzDone},
        {"1,1,3", "null record", [](IIPPTZApiEx& c) { return c.GetCapabilities(nullptr); }, kPtzInvalidArgument},
        {"1,1,3", "null name", [](IIPPTZApiEx& c) { return c.SavePreset(nullptr); }, kPtzInvalidArgument},
        {"1,1,3", "null goto", [](IIPPTZApiEx& c) { return c.GotoPreset(0, nullptr); }, kPtzInvalidArgument},
        {"1,1,3", "null delete", [](IIPPTZApiEx& c) { return c.DeletePreset(nullptr); }, kPtzInvalidArgument},
        {"1,1,3", "unknown goto", [](IIPPTZApiEx& c) { return c.GotoPreset(0, "Gate"); }, kPtzPresetFailed},
        {"1,1,3", "no preset 0", [&](IIPPTZApiEx& c) { return c.GetPresetName(0, buffer, 8); }, kPtzPresetFailed},
        {"1,1,3", "no current", [&](IIPPTZApiEx& c) { return c.GetCurrentPreset(buffer, 8); }, kPtzPresetFailed},
        {"1,1,3", "feature 1", [](IIPPTZApiEx& c) { return c.HasFeature(1); }, 1},
        {"1,1,3", "feature 2", [](IIPPTZApiEx& c) { return c.HasFeature(2); }, 0},
        {"1,0,3", "zoom in", [](IIPPTZApiEx& c) { return c.ZoomPlus(5); }, kPtzNotSupported},
        {"1,0,3", "direction 8", [](IIPPTZApiEx& c) { return c.Move(8, 5); }, kPtzNotSupported},
        {"1,1", "pan", [](IIPPTZApiEx& c) { return c.Move(0, 5); }, kPtzNotSupported},
        {"1,1", "zoom out", [](IIPPTZApiEx& c) { return c.ZoomMinus(5); }, kPtzNotSupported},
        {"1,1", "focus", [](IIPPTZApiEx& c) { return c.FocusPlus(5); }, kPtzNotSupported},
        {"1,1", "iris", [](IIPPTZApiEx& c) { return c.IrisMinus(5); }, kPtzNotSupported},
        {"1,1", "supported", [](IIPPTZApiEx& c) { return c.IsPTZSupported(); }, 0},
        {nullptr, "move", [](IIPPTZApiEx& c) { return c.Move(0, 5); }, kPtzFailed},
        {nullptr, "stop", [](IIPPTZApiEx& c) { return c.Stop(); }, kPtzFailed},
        {nullptr, "supported", [](IIPPTZApiEx& c) { return c.IsPTZSupported(); }, kPtzFailed},
        {nullptr, "capabilities",
         [](IIPPTZApiEx& c)
         {
             PTZCapabilityRecord record;
             return c.GetCapabilities(&record);
         },
         kPtzFailed},
        {nullptr, "save", [](IIPPTZApiEx& c) { return c.SavePreset("Gate"); }, kPtzFailed},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(std::string(test.features != nullptr ? test.features : "closed") + ": " + test.what);
        if (test.features != nullptr)
            Open(test.features);
        else
            control = std::make_unique<CVaronPTZControl>(&driver, 0);
        EXPECT_EQ(test.call(*control), test.result);
    }
}

TEST_F(PtzControlTest, ClosedControlNoLongerReachesItsCommandObject)
{
    Open("1,1,3").Close();
    EXPECT_EQ(control->SavePreset("Gate"), kPtzFailed);
    EXPECT_EQ(control->DeletePreset("Gate"), kPtzPresetFailed);
    EXPECT_EQ(control->Move(0, 5), kPtzFailed);
}
}
}
