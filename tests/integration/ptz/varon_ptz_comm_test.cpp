// The PTZ command object against the simulated camera: the CGI each command becomes, the queue that
// keeps only the newest command, the one-time switch to automatic focus and iris, the preset commands
// beside the command thread, and a close that does not wait for a stalled camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ptz/ptz_result_codes.h"
#include "ptz/varon_ptz_comm.h"
#include "runtime/format_string.h"
#include "support/camsim_peer.h"
#include "support/stub_driver.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using testing::CamsimPeer;

// The driver's services for one camera at 127.0.0.1, with the log kept.
class PtzDriver : public testing::StubDriver
{
public:
    PtzDriver() : StubDriver(nullptr) {}
    const DEVICE_INFO* GetDeviceInfo() override { return &device; }
    void SendDebugMessage(unsigned level, const char* format, ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        const std::string text = FormatStringV(format, arguments);
        va_end(arguments);
        std::lock_guard lock(mutex);
        lines.push_back(std::to_string(level) + " " + text);
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard lock(mutex);
        return lines;
    }

    DEVICE_INFO device;

private:
    std::mutex mutex;
    std::vector<std::string> lines;
};

CPtzCapabilities Capabilities(bool move, bool zoom)
{
    CPtzCapabilities capabilities;
    capabilities.pan = capabilities.tilt = capabilities.focus = capabilities.iris = move;
    capabilities.zoom = zoom;
    capabilities.SetMaximumPresets(16);
    return capabilities;
}

class PtzCommTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_camera = new CamsimPeer(); }
    static void TearDownTestSuite()
    {
        delete s_camera;
        s_camera = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_camera->IsReady()) << s_camera->StartFailure();
        s_camera->Reset();
        s_camera->ForgetRequests();
        driver.device.address = "127.0.0.1";
        driver.device.port = s_camera->HttpPort();
        driver.device.userName = "admin";
        driver.device.password = "secret";
        driver.device.requestTimeoutMs = 3000;
    }

    CVaronPTZComm& Open(const CPtzCapabilities& capabilities = Capabilities(true, true), std::uint16_t channel = 0)
    {
        comm = std::make_unique<CVaronPTZComm>(&driver, capabilities, channel);
        EXPECT_TRUE(comm->Open());
        return *comm;
    }
    void Misbehave(const std::string& rule) { ASSERT_TRUE(s_camera->Control("/camsim/misbehave?" + rule)); }

    // The targets of the requests the camera has seen, once there are `count` (or after 5 s).
    std::vector<std::string> Targets(std::size_t count)
    {
        std::vector<std::string> targets;
        for (auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;)
        {
            targets.clear();
            for (const auto& request : s_camera->Requests())
                targets.push_back(request.target);
            if (targets.size() >= count)
                break;
            std::this_thread::sleep_for(20ms);
        }
        return targets;
    }
    // The targets after a moment in which nothing else should have come.
    std::vector<std::string> SettledTargets(std::size_t count)
    {
        Targets(count);
        std::this_thread::sleep_for(300ms);
        return Targets(count);
    }

    static CamsimPeer* s_camera;
    PtzDriver driver;
    std::unique_ptr<CVaronPTZComm> comm;
};

CamsimPeer* PtzCommTest::s_camera = nullptr;

TEST_F(PtzCommTest, EachDirectionAndSpeedBecomesItsControlRequest)
{
    struct Case
    {
        std::int32_t direction;
        std::int32_t speed;
        const char* target;
    };
    const Case cases[] = {
        {0, 16, "/control?camid=1&rpan=-7"},
        {1, 1, "/control?camid=1&rpan=1"},
        {2, 4, "/control?camid=1&rtilt=2"},
        {3, 6, "/control?camid=1&rtilt=-3"},
        {4, 1, "/control?camid=1&rtilt=1&rpan=-1"},
        {5, 9, "/control?camid=1&rtilt=4&rpan=4"},
        {6, 16, "/control?camid=1&rtilt=-7&rpan=-7"},
        {7, 12, "/control?camid=1&rtilt=-5&rpan=5"},
        {8, 2, "/control?camid=1&rzoom=-1"},
        {9, 14, "/control?camid=1&rzoom=6"},
        // Speeds outside 1 ... 16 are held to its ends instead of reversing or leaving the camera's range.
        {1, 0, "/control?camid=1&rpan=1"},
        {1, -5, "/control?camid=1&rpan=1"},
        {0, 100, "/control?camid=1&rpan=-7"},
    };
    CVaronPTZComm& ptz = Open();
    std::vector<std::string> expected;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.target);
        ASSERT_EQ(ptz.StartMove(nullptr, c.direction, c.speed), kPtzDone);
        expected.push_back(c.target);
        ASSERT_EQ(Targets(expected.size()), expected);
    }

    Open(Capabilities(true, true), 1).StartMove(nullptr, 1, 1);
    EXPECT_EQ(Targets(expected.size() + 1).back(), "/control?camid=2&rpan=1") << "the camera counts from 1";
}

TEST_F(PtzCommTest, RefusedCommandsSendNothing)
{
    CVaronPTZComm& ptz = Open(Capabilities(true, false));
    for (const std::int32_t direction : {-1, 10, 11, 1000})
        EXPECT_EQ(ptz.StartMove(nullptr, direction, 5), kPtzInvalidArgument) << direction;
    EXPECT_EQ(ptz.StartMove(nullptr, kPtzZoomIn, 5), kPtzNotSupported);
    EXPECT_EQ(ptz.AreaZoom(nullptr, 1, 2, 3, 5), kPtzNotSupported);
    EXPECT_EQ(ptz.Center(nullptr, 1, 2, 5), kPtzNotSupported);
    EXPECT_EQ(ptz.Unzoom(nullptr, 5), kPtzNotSupported);

    CVaronPTZComm& fixed = Open(Capabilities(false, false));
    EXPECT_EQ(fixed.IsPTZSupported(), 0);
    EXPECT_EQ(fixed.StartMove(nullptr, 0, 5), kPtzNotSupported);
    EXPECT_EQ(fixed.StartFocus(nullptr, true, 5), kPtzNotSupported);
    EXPECT_EQ(fixed.StartIris(nullptr, true, 5), kPtzNotSupported);

    EXPECT_TRUE(fixed.Close());
    EXPECT_FALSE(fixed.StopMoving(nullptr));
    EXPECT_EQ(driver.Lines().back(), "1 kestrav::CBasePTZComm::StopMoving: cannot send message (4) to thread");
    EXPECT_TRUE(SettledTargets(0).empty());
}

TEST_F(PtzCommTest, CapabilitiesGoToTheHostRecord)
{
    PTZCapabilityRecord record;
    record.hostField = 77;
    EXPECT_EQ(Open(Capabilities(true, false)).GetPtzCapabilities(record), 1);
    EXPECT_EQ(record.hostField, 77);
    EXPECT_EQ((std::vector{record.pan, record.tilt, record.zoom, record.focus, record.iris, record.maximumPresets,
                           record.areaZoom}),
              (std::vector{1, 1, 0, 1, 1, 16, 0}));
    EXPECT_EQ(comm->IsPTZSupported(), 1);

    // The count comes from a camera's text: held to what a preset list can search.
    CPtzCapabilities wild;
    for (const auto& [count, held] : {std::pair<std::int64_t, std::int32_t>{-1, 0}, {5'000'000'000, 256}, {17, 17}})
    {
        wild.SetMaximumPresets(count);
        EXPECT_EQ(wild.GetMaximumPresets(), held) << count;
    }
}

TEST_F(PtzCommTest, MovesPostedWhileTheThreadIsBusyLeaveOnlyTheLast)
{
    Misbehave("path=/control&action=stall-before-headers&seconds=1&times=1");
    CVaronPTZComm& ptz = Open();
    ASSERT_EQ(ptz.StartMove(nullptr, 0, 1), kPtzDone);
    ASSERT_EQ(Targets(1).size(), 1u) << "the first move reached the camera, which holds it";
    for (const std::int32_t direction : {1, 2, 3})
        ASSERT_EQ(ptz.StartMove(nullptr, direction, 1), kPtzDone);
    EXPECT_EQ(SettledTargets(2), (std::vector<std::string>{"/control?camid=1&rpan=-1", "/control?camid=1&rtilt=-1"}));
}

TEST_F(PtzCommTest, FocusAndIrisSwitchToAutomaticOnceAndAgainAfterAFailedSwitch)
{
    struct Case
    {
        const char* name;
        std::int32_t (CBasePTZComm::*start)(IIPParams*, bool, std::int32_t);
        const char* automatic;
        const char* first;  // flag clear
        const char* second; // flag set
    };
    const Case cases[] = {
        {"focus", &CBasePTZComm::StartFocus, "/camera?autofocus=1", "/camera?focus=1", "/camera?focus=-1"},
        {"iris", &CBasePTZComm::StartIris, "/camera?autoiris=1", "/camera?iris=-1", "/camera?iris=1"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        s_camera->ForgetRequests();
        CVaronPTZComm& once = Open();
        ASSERT_EQ((once.*c.start)(nullptr, false, 3), kPtzDone);
        ASSERT_EQ(Targets(2).size(), 2u);
        ASSERT_EQ((once.*c.start)(nullptr, true, 3), kPtzDone);
        EXPECT_EQ(SettledTargets(3), (std::vector<std::string>{c.automatic, c.first, c.second}));

        s_camera->ForgetRequests();
        Misbehave("path=/camera&action=status&status=500&times=1");
        CVaronPTZComm& refused = Open();
        ASSERT_EQ((refused.*c.start)(nullptr, false, 3), kPtzDone);
        ASSERT_EQ(Targets(2).size(), 2u);
        ASSERT_EQ((refused.*c.start)(nullptr, true, 3), kPtzDone);
        EXPECT_EQ(SettledTargets(4), (std::vector<std::string>{c.automatic, c.first, c.automatic, c.second}));
    }
}

TEST_F(PtzCommTest, EveryStopSendsTheStopRequestWithItsSlash)
{
    CVaronPTZComm& ptz = Open();
    std::vector<std::string> expected;
    const auto move = [&](std::int32_t direction, bool (CBasePTZComm::*stop)(IIPParams*), const char* target)
    {
        ASSERT_EQ(ptz.StartMove(nullptr, direction, 8), kPtzDone);
        expected.push_back(target);
        ASSERT_EQ(Targets(expected.size()), expected);
        ASSERT_TRUE((ptz.*stop)(nullptr));
        expected.push_back("/control?camid=1&stop=1");
        ASSERT_EQ(Targets(expected.size()), expected);
    };
    move(0, &CBasePTZComm::StopMoving, "/control?camid=1&rpan=-3");
    move(9, &CBasePTZComm::StopZooming, "/control?camid=1&rzoom=3");
    ASSERT_TRUE(ptz.StopFocusing(nullptr));
    ASSERT_EQ(Targets(expected.size() + 1).back(), "/control?camid=1&stop=1");
    for (const auto& request : s_camera->Requests())
        EXPECT_EQ(request.status, 200) << request.target;
}

TEST_F(PtzCommTest, PresetCommandsReportTheCamerasAnswer)
{
    CVaronPTZComm& ptz = Open();
    EXPECT_TRUE(ptz.SetPreset(3, "Gate"));
    EXPECT_TRUE(ptz.GotoPreset(3, "Gate", 0));
    EXPECT_TRUE(ptz.RemovePreset(3, "Gate"));
    EXPECT_FALSE(ptz.GotoPreset(3, "Gate", 0)) << "the camera holds no position there any more";
    EXPECT_EQ(Targets(4),
              (std::vector<std::string>{"/ptzpreset?camid=1&set_preset=3", "/ptzpreset?camid=1&goto_preset=3",
                                        "/ptzpreset?camid=1&rem_preset=3", "/ptzpreset?camid=1&goto_preset=3"}));
}

TEST_F(PtzCommTest, PresetCommandsAndQueuedCommandsDoNotMixTheirAnswers)
{
    // Every move is refused: a preset command that read a move's status would fail.
    Misbehave("path=/control&action=status&status=500");
    CVaronPTZComm& ptz = Open();
    std::atomic<bool> done{false};
    std::thread mover(
        [&]
        {
            for (std::int32_t turn = 0; !done; ++turn)
            {
                ptz.StartMove(nullptr, turn % 8, 1 + turn % 16);
                std::this_thread::sleep_for(1ms);
            }
        });
    int wrong = 0;
    for (int turn = 0; turn < 60; ++turn)
    {
        wrong += !ptz.SetPreset(1, "Gate");
        wrong += ptz.GotoPreset(9, "Never", 0);
    }
    done = true;
    mover.join();
    EXPECT_EQ(wrong, 0);
    std::size_t moves = 0;
    for (const auto& request : s_camera->Requests())
        moves += request.path == "/control";
    EXPECT_GT(moves, 10u) << "the command thread was busy all along";
}

TEST_F(PtzCommTest, CloseEndsARequestTheCameraHolds)
{
    Misbehave("path=/control&action=stall-before-headers&seconds=30");
    driver.device.requestTimeoutMs = 30000;
    CVaronPTZComm& ptz = Open();
    ASSERT_EQ(ptz.StartMove(nullptr, 0, 1), kPtzDone);
    ASSERT_EQ(Targets(1).size(), 1u);
    EXPECT_TRUE(ptz.Close());
    for (const std::string& line : driver.Lines())
        EXPECT_EQ(line.find("was not stopped"), std::string::npos) << "the join waited for the camera: " << line;
    EXPECT_FALSE(ptz.IsOpened());
    EXPECT_EQ(ptz.StartMove(nullptr, 0, 1), kPtzFailed);
    EXPECT_TRUE(ptz.Open()) << "a closed command object opens again";
}
}
}
