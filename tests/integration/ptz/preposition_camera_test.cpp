// The preset list over the command object and the simulated camera: what the camera refuses is reported
// and changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ptz/preposition_list.h"
#include "ptz/ptz_result_codes.h"
#include "ptz/varon_ptz_comm.h"
#include "support/camsim_peer.h"
#include "support/stub_driver.h"

namespace kestrav
{
namespace
{
class CameraDriver : public testing::StubDriver
{
public:
    explicit CameraDriver(std::uint16_t port) : StubDriver(nullptr)
    {
        device.address = "127.0.0.1";
        device.port = port;
        device.requestTimeoutMs = 3000;
    }
    const DEVICE_INFO* GetDeviceInfo() override { return &device; }

    DEVICE_INFO device;
};

TEST(PrepositionCameraTest, RefusalsOfTheCameraLeaveTheListAsItWas)
{
    testing::CamsimPeer camera;
    ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
    const auto directory =
        std::filesystem::temp_directory_path() / ("ptz-presets-" + std::to_string(camera.HttpPort()));
    std::filesystem::create_directories(directory);

    CameraDriver driver(camera.HttpPort());
    CPtzCapabilities capabilities;
    capabilities.pan = true;
    capabilities.SetMaximumPresets(3);
    CVaronPTZComm comm(&driver, capabilities, 0);
    ASSERT_TRUE(comm.Open());
    TSmartPtr<CXMLPrepositionReader> store(new CXMLPrepositionReader("BrantelIPCapture", directory.string()));
    ASSERT_TRUE(store->Open("presets.preset"));
    CPrepositionList list(0);
    list.SetPrepositionComm(&comm);
    list.SetMaximumPrepositions(capabilities.GetMaximumPresets());
    list.SetStorage(store);

    ASSERT_EQ(list.AddPreposition("Gate"), kPtzDone);
    list.ForgetCurrentPreposition();
    ASSERT_EQ(list.AddPreposition("Yard"), kPtzDone);
    EXPECT_TRUE(list.GotoPreposition("Gate", 0));

    ASSERT_TRUE(camera.Control("/camsim/misbehave?path=/ptzpreset&action=status&status=500&times=1"));
    EXPECT_FALSE(list.RemovePreposition("Yard"));
    EXPECT_EQ(list.GetPrepositionCount(), 2);
    EXPECT_TRUE(list.GotoPreposition("Yard", 0)) << "the camera still holds it";

    // A camera that lost a position (reset, another client) answers the goto with an error.
    ASSERT_TRUE(camera.Control("/camsim/misbehave?clear=1"));
    ASSERT_TRUE(comm.RemovePreset(0, "Gate"));
    EXPECT_FALSE(list.GotoPreposition("Gate", 0));
    std::string current;
    ASSERT_TRUE(list.GetCurrentPreposition(current));
    EXPECT_EQ(current, "Yard");
    std::filesystem::remove_all(directory);
}
}
}
