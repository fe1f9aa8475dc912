#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "hostkit/host_capability_results.h"
#include "http/abortable_http_transport.h"
#include "http/http_request.h"
#include "http/varon_camera_properties.h"
#include "support/camsim_peer.h"
#include "support/closed_port.h"
#include "support/host_fixture.h"
#include "support/wine_support.h"

namespace kestrav
{
namespace
{
using testing::CamsimPeer;

// One camera (Digest) for the suite; each test starts with its rules cleared. The host directory keeps the
// configuration file out of the way.
class VaronCameraPropertiesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testing::CamsimOptions options;
        options.auth = testing::DefaultCameraAuth();
        options.extraArguments = {"--alarm-interval", "0"};
        s_camera = new CamsimPeer(options);
    }
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
    }

    static DEVICE_INFO Device(std::string password = "secret", std::uint16_t port = 0)
    {
        DEVICE_INFO device;
        device.requestTimeoutMs = 3000;
        device.address = "127.0.0.1";
        device.port = port != 0 ? port : s_camera->HttpPort();
        device.userName = "admin";
        device.password = std::move(password);
        return device;
    }

    testing::TemporaryHostDirectory m_hostDirectory;
    static CamsimPeer* s_camera;
};

CamsimPeer* VaronCameraPropertiesTest::s_camera = nullptr;

TEST_F(VaronCameraPropertiesTest, ReadsTheCameraAndReportsItsDetailTexts)
{
    CVaronCameraProperties properties(Device(), 1);
    std::uint32_t code = 77;
    ASSERT_TRUE(properties.GetCameraProperties(code)) << properties.GetLastErrorText();
    EXPECT_EQ(code, 77u);
    hostkit::HostCapabilityResults results;
    ASSERT_TRUE(properties.SaveCapabilities(&results));
    EXPECT_TRUE(results.Misuse().Misuses().empty());
    const hostkit::CapabilitySnapshot written = results.Snapshot();
    EXPECT_EQ(written.deviceName, "Brantel VC-4220");
    const auto texts = results.DeviceDetailTexts();
    EXPECT_EQ(texts.at(1), "1");
    EXPECT_EQ(written.namedItems.at(1).flag, 0);
    EXPECT_EQ(texts.at(2), "2.4.1 build 0312");
    EXPECT_EQ(texts.at(4), "554");
    EXPECT_EQ(texts.at(5).substr(0, 33), "h264:1080p 1920x1080 30 1024-2048");
    EXPECT_EQ(written.namedItems.at(6).name, "PTZ features");
    EXPECT_EQ(texts.at(6), "1,1,128");
    EXPECT_EQ(written.values.at(27), 2u);
}

TEST_F(VaronCameraPropertiesTest, FailuresGiveTheQueryCodes)
{
    struct Case
    {
        const char* what;
        std::string rule; // a misbehaviour of the camera, or empty
        std::string password;
        bool closedPort;
        std::uint32_t code;
        std::int32_t result;
    };
    const Case cases[] = {
        {"wrong credentials", "", "wrong", false, 1, 10},
        {"no such CGI", "path=/server&action=status&status=404", "secret", false, 0, 9},
        {"server error", "path=/getprofile&action=status&status=500", "secret", false, 3, 8},
        {"nothing listens", "", "secret", true, 2, 11},
    };
    for (const Case& c : cases)
    {
        s_camera->Reset();
        if (!c.rule.empty())
        {
            ASSERT_TRUE(s_camera->Control("/camsim/misbehave?" + c.rule)) << c.what;
        }
        CVaronCameraProperties properties(Device(c.password, c.closedPort ? testing::ClosedPort() : 0), 0);
        std::uint32_t code = 77;
        EXPECT_FALSE(properties.GetCameraProperties(code)) << c.what;
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_EQ(properties.GetLastResult().GetCode(), c.result) << c.what;
    }

    ASSERT_TRUE(s_camera->SetAnswer("/getprofile", "profile_00_name=H264 VGA\r\n"));
    CVaronCameraProperties properties(Device(), 0);
    std::uint32_t code = 77;
    EXPECT_FALSE(properties.GetCameraProperties(code));
    EXPECT_EQ(code, 3u);
    EXPECT_EQ(properties.GetLastErrorText(),
              "Unable to receive and parse profile information (stream capabilities) from device");
}

// An abort given before the query began is not lost, and one given during a stalled request ends it
// without the request's time-out (the test's own limit would fail first: 60 s against the camera's stall).
TEST_F(VaronCameraPropertiesTest, AnAbortStaysInForceAndEndsAStalledRequest)
{
    CVaronCameraProperties early(Device(), 0);
    early.Abort();
    std::uint32_t code = 77;
    EXPECT_FALSE(early.GetCameraProperties(code));
    EXPECT_EQ(code, 77u) << "an aborted query leaves the code alone";
    EXPECT_EQ(early.GetLastErrorText(), "Capability search query was aborted");
    EXPECT_TRUE(s_camera->Requests().empty());

    ASSERT_TRUE(s_camera->Control("/camsim/misbehave?path=/getprofile&action=stall-before-headers&seconds=60"));
    DEVICE_INFO device = Device();
    device.requestTimeoutMs = 60000;
    CVaronCameraProperties stalled(device, 0);
    auto query = std::async(std::launch::async,
                            [&]
                            {
                                std::uint32_t ignored = 77;
                                return stalled.GetCameraProperties(ignored);
                            });
    const auto stalledRequestArrived = []
    {
        const auto requests = s_camera->Requests();
        return requests.size() >= 2 && requests.back().path == "/getprofile";
    };
    // A query that never reaches the stalled request fails the test instead of hanging it; it is aborted
    // either way, so that it ends.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stalledRequestArrived() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool arrived = stalledRequestArrived();
    stalled.Abort();
    const bool answered = query.get();
    ASSERT_TRUE(arrived) << "the query did not ask for /getprofile within 10 s";
    EXPECT_FALSE(answered);
    EXPECT_EQ(stalled.GetLastErrorText(), "Capability search query was aborted");
}
// The moment the abort event cannot cover: an abort (transport, then sender) just before the sender's
// SendRequest, which clears the sender's own cancel flag. The request must not go out.
TEST_F(VaronCameraPropertiesTest, AnAbortJustBeforeTheSenderStartsIsNotForgotten)
{
    CAbortableHttpTransport transport(platform::DefaultHttpTransport());
    Web::CHttpSender sender(Device(), transport);
    ASSERT_TRUE(sender.SendRequest(Web::HttpRequest("GET", "/server")));
    s_camera->ForgetRequests();
    transport.Abort();
    sender.CloseRequest();
    EXPECT_FALSE(sender.SendRequest(Web::HttpRequest("GET", "/server")));
    EXPECT_TRUE(s_camera->Requests().empty());
}
}
}
