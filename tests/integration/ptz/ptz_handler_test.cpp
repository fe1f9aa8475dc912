// The PTZ control as a host reaches it: the driver created through the exports and opened through the
// host kit with the extra parameters a device search wrote, steering the simulated camera and keeping
// named presets in a file in the host directory.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <brantel/capture_driver.h>
#include <brantel/exports.h>
#include <brantel/ptz_driver.h>

#include "camsim_peer.h"
#include "host_fixture.h"
#include "ptz/ptz_result_codes.h"

namespace kestrav
{
namespace
{
using testing::CamsimPeer;

constexpr const char* kMac = "00-40-8c-AA-bb-cc";
constexpr const char* kPresetFile = "BrantelIPCapture_00408cAAbbcc.preset";

struct DriverDeleter
{
    void operator()(ipcapture::IIPCaptureDriver* driver) const { DeleteIPCapture(driver); }
};
using DriverPtr = std::unique_ptr<ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

class PtzHandlerTest : public testing::HostFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(camera.HttpPort());
        // The host hands its extra parameters over without gaps.
        SetParams(kMac, "1,1,3");
    }

    void SetParams(const std::string& mac, const std::string& features)
    {
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "(none)");
        kit.Params().SetExtraParam(3, mac);
        kit.Params().SetExtraParam(4, "554");
        kit.Params().SetExtraParam(5, "(none)");
        kit.Params().SetExtraParam(6, features);
    }

    // A new driver object, as after a restart of the host; its PTZ handler, asked for nothing yet.
    IIPPTZDriverEx* OpenDriver()
    {
        driver.reset();
        driver.reset(static_cast<ipcapture::IIPCaptureDriverEx5*>(CreateIPCaptureEx5()));
        if (driver == nullptr || !driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()) ||
            driver->GetPTZDriverEx() == nullptr)
        {
            ADD_FAILURE() << "the driver did not open";
            return nullptr;
        }
        return driver->GetPTZDriverEx();
    }

    IIPPTZApiEx* OpenControl()
    {
        IIPPTZDriverEx* handler = OpenDriver();
        return handler != nullptr ? handler->GetPTZApiEx(0) : nullptr;
    }

    // The preset requests the camera took since the last call.
    std::vector<std::string> TakePresetRequests()
    {
        std::vector<std::string> targets;
        for (const testing::CamsimRequest& request : camera.Requests())
            if (request.path == "/ptzpreset")
                targets.push_back(request.target + " " + std::to_string(request.status));
        camera.ForgetRequests();
        return targets;
    }

    bool Logged(const std::string& part)
    {
        for (const hostkit::DebugRecord& record : kit.Debug().Records())
            if (record.text.find(part) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::string> PresetNames(IIPPTZApi* control)
    {
        std::vector<std::string> names;
        std::array<char, 64> buffer{};
        for (std::int32_t index = 0; index < control->GetPresetCount(); ++index)
            if (control->GetPresetName(index, buffer.data(), buffer.size()) == kPtzDone)
                names.emplace_back(buffer.data());
        return names;
    }

    std::vector<std::filesystem::path> PresetFilesIn(const std::filesystem::path& directory)
    {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
            if (entry.path().string().find(".preset") != std::string::npos)
                files.push_back(entry.path());
        return files;
    }

    CamsimPeer camera;
    DriverPtr driver;
};

TEST_F(PtzHandlerTest, PresetsTakeTheCameraSlotsUpToItsCapacityAndReuseAFreedOne)
{
    IIPPTZApiEx* control = OpenControl();
    ASSERT_NE(control, nullptr);
    for (const char* name : {"Gate", "Yard", "Door"})
    {
        ASSERT_EQ(control->SavePreset(name), kPtzDone) << name;
        ASSERT_EQ(control->Move(1, 4), kPtzDone) << "leaves the preset, so the next save is a new one";
    }
    EXPECT_EQ(control->SavePreset("Roof"), kPtzNoRoomForPreset);
    EXPECT_TRUE(Logged("A preposition \"Roof\" cannot be added. Camera supports saving not more than 3 prepositions."));
    PTZCapabilityRecord record;
    ASSERT_EQ(control->GetCapabilities(&record), kPtzDone);
    EXPECT_EQ(record.maximumPresets, 3);
    EXPECT_EQ(record.presetCount, 3);

    EXPECT_EQ(control->DeletePreset("Yard"), kPtzDone);
    EXPECT_EQ(control->SavePreset("Roof"), kPtzDone);
    EXPECT_EQ(TakePresetRequests(),
              (std::vector<std::string>{"/ptzpreset?camid=1&set_preset=0 200", "/ptzpreset?camid=1&set_preset=1 200",
                                        "/ptzpreset?camid=1&set_preset=2 200", "/ptzpreset?camid=1&rem_preset=1 200",
                                        "/ptzpreset?camid=1&set_preset=1 200"}));
    EXPECT_EQ(PresetNames(control), (std::vector<std::string>{"Gate", "Door", "Roof"}));
    EXPECT_EQ(control->GotoPreset(0, "Yard"), kPtzPresetFailed);
    EXPECT_EQ(control->DeletePreset("Yard"), kPtzPresetFailed);
}

TEST_F(PtzHandlerTest, SavingWhileRestingOnAPresetRenamesIt)
{
    IIPPTZApiEx* control = OpenControl();
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(control->SavePreset("Gate"), kPtzDone);
    TakePresetRequests();
    ASSERT_EQ(control->SavePreset("Front gate"), kPtzDone);
    EXPECT_TRUE(TakePresetRequests().empty()) << "a rename does not ask the camera";
    EXPECT_EQ(PresetNames(control), std::vector<std::string>{"Front gate"});
    std::array<char, 11> exact{};
    EXPECT_EQ(control->GetCurrentPreset(exact.data(), 10), kPtzInvalidArgument) << "no room for the terminator";
    EXPECT_EQ(control->GetCurrentPreset(exact.data(), exact.size()), kPtzDone);
    EXPECT_STREQ(exact.data(), "Front gate");
    // A stop keeps the preset; a move leaves it.
    EXPECT_EQ(control->Stop(), kPtzDone);
    EXPECT_EQ(control->GetCurrentPreset(exact.data(), exact.size()), kPtzDone);
    ASSERT_EQ(control->ZoomPlus(3), kPtzDone);
    EXPECT_EQ(control->GetCurrentPreset(exact.data(), exact.size()), kPtzPresetFailed);
}

TEST_F(PtzHandlerTest, OneStopEndsTheMoveAndTheZoomAndASecondHasNothingToStop)
{
    IIPPTZApiEx* control = OpenControl();
    ASSERT_NE(control, nullptr);
    ASSERT_EQ(control->Move(2, 16), kPtzDone);
    ASSERT_EQ(control->ZoomPlus(16), kPtzDone);
    EXPECT_EQ(control->Stop(), kPtzDone);
    const std::string stop = "/control?camid=1&stop=1";
    std::vector<std::string> targets;
    for (int wait = 0; wait < 250 && (targets.empty() || targets.back() != stop); ++wait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        targets.clear();
        for (const testing::CamsimRequest& request : camera.Requests())
            targets.push_back(request.target);
    }
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets.back(), stop);
    camera.ForgetRequests();
    EXPECT_EQ(control->Stop(), kPtzDone);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(camera.Requests().empty());
}

TEST_F(PtzHandlerTest, PresetFileIsReadBackByTheNextDriverWithItsNamesIntact)
{
    const std::vector<std::string> names{"Tür Süd", "門口", "Yard"};
    IIPPTZApiEx* control = OpenControl();
    ASSERT_NE(control, nullptr);
    for (const std::string& name : names)
    {
        ASSERT_EQ(control->SavePreset(name.c_str()), kPtzDone);
        ASSERT_EQ(control->Move(0, 1), kPtzDone);
    }
    ASSERT_EQ(PresetFilesIn(hostDirectory.Path()),
              std::vector<std::filesystem::path>{hostDirectory.Path() / kPresetFile});

    control = OpenControl();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(PresetNames(control), names);
    TakePresetRequests();
    EXPECT_EQ(control->GotoPreset(0, "門口"), kPtzDone);
    EXPECT_EQ(TakePresetRequests(), std::vector<std::string>{"/ptzpreset?camid=1&goto_preset=1 200"});
}

TEST_F(PtzHandlerTest, MacAddressThatIsNotTwelveHexDigitsGivesNoFileAndNoControl)
{
    struct Case
    {
        const char* mac;
        const char* reason;
    };
    const Case cases[] = {
        {"(none)", "Unable to create XML storage (MAC is empty)!"},
        {"../..", "is not twelve hexadecimal digits"},
        {"../../../../tmp/00408c", "is not twelve hexadecimal digits"},
        {"00:40:8c:aa:bb", "is not twelve hexadecimal digits"},
        {"00:40:8c:aa:bb:zz", "is not twelve hexadecimal digits"},
        {"00408caabbcc/", "is not twelve hexadecimal digits"},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(test.mac);
        kit.Debug().Clear();
        SetParams(test.mac, "1,1,3");
        EXPECT_EQ(OpenControl(), nullptr);
        EXPECT_TRUE(Logged(test.reason));
        EXPECT_TRUE(Logged("PTZ module cannot be initialized! Name of file for preset storing was not defined"));
        EXPECT_TRUE(PresetFilesIn(hostDirectory.Path()).empty());
        EXPECT_FALSE(std::filesystem::exists("/tmp/00408c.preset"));
    }
}

TEST_F(PtzHandlerTest, PresetFileThatCannotBeCreatedIsTriedAgainOnTheNextRequest)
{
    std::filesystem::remove_all(hostDirectory.Path());
    ASSERT_EQ(OpenControl(), nullptr);
    EXPECT_TRUE(Logged("cannot initialize CXMLPrepositionReader object with parameter \"" + std::string(kPresetFile)));

    std::filesystem::create_directories(hostDirectory.Path());
    IIPPTZApi* control = driver->GetPTZDriver()->GetPTZApi(0);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->SavePreset("Gate"), kPtzDone);
    EXPECT_TRUE(std::filesystem::exists(hostDirectory.Path() / kPresetFile));
}

TEST_F(PtzHandlerTest, HostThreadsMovingStoppingAndSavingAtOnceLeaveAStopThatEndsTheLastMove)
{
    IIPPTZApiEx* control = OpenControl();
    ASSERT_NE(control, nullptr);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back(
            [control, thread]
            {
                const std::string name = "P" + std::to_string(thread);
                for (int round = 0; round < 15; ++round)
                {
                    control->Move(round % 8, 16);
                    control->FocusPlus(4);
                    control->Stop();
                    control->SavePreset(name.c_str());
                    control->GotoPreset(0, name.c_str());
                }
            });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_LE(control->GetPresetCount(), 3);
    // Whatever the threads left flagged is stopped; then one move, and its stop alone.
    EXPECT_EQ(control->Stop(), kPtzDone);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(control->Move(3, 16), kPtzDone);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    camera.ForgetRequests();
    EXPECT_EQ(control->Stop(), kPtzDone);
    std::vector<std::string> targets;
    for (int wait = 0; wait < 250 && targets.empty(); ++wait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const testing::CamsimRequest& request : camera.Requests())
            targets.push_back(request.target);
    }
    EXPECT_EQ(targets, std::vector<std::string>{"/control?camid=1&stop=1"});
}

TEST_F(PtzHandlerTest, ThreadsAskingAtOnceGetOneControl)
{
    IIPPTZDriverEx* handler = OpenDriver();
    ASSERT_NE(handler, nullptr);
    std::array<IIPPTZApi*, 4> controls{};
    std::vector<std::thread> threads;
    for (std::size_t index = 0; index < controls.size(); ++index)
        threads.emplace_back([&, index] { controls[index] = handler->GetPTZApi(0); });
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_NE(controls[0], nullptr);
    for (IIPPTZApi* control : controls)
        EXPECT_EQ(control, controls[0]);
    EXPECT_EQ(static_cast<IIPPTZApi*>(handler->GetPTZApiEx(0)), controls[0]);
    EXPECT_EQ(driver->GetPTZDriver()->GetPTZApi(0), controls[0]);
    EXPECT_EQ(handler->GetPTZApi(1), nullptr);
}
}
}
