// The device search end to end: the query created through the exports probes the simulated camera
// into the host kit's result container, reports its outcome to the kit's sink, and the texts it
// found, handed back to a driver's Open, make the channels ask the camera for the right profiles.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <brantel/capability_query.h>
#include <brantel/capture_driver.h>
#include <brantel/exports.h>
#include <brantel/video_capture.h>

#include "camsim_peer.h"
#include "channels/camera_channel.h"
#include "closed_port.h"
#include "host_fixture.h"
#include "hostkit/host_capability_query_sink.h"
#include "hostkit/host_capability_results.h"
#include "wine_support.h"

namespace kestrav
{
namespace
{
using namespace std::chrono_literals;
using testing::CamsimOptions;
using testing::CamsimPeer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Optional;

using Clock = std::chrono::steady_clock;

// The module's own limits, as a host sees them: a 10 s request time-out and a stop that waits twice that.
constexpr auto kPromptly = 5s;
constexpr auto kOutcomeWait = 30s;
constexpr auto kStopWait = 20s;

// The codes of frame rates 1 to 30 per second, ascending rates.
const std::vector<std::uint32_t> kCodesUpTo30 = {1000, 500, 333, 250, 200, 167, 143, 125, 111, 100, 91, 83, 77, 71, 67,
                                                 63,   59,  56,  53,  50,  48,  45,  43,  42,  40,  38, 37, 36, 34, 33};
constexpr const char* kFrameRatesUpTo30 =
    "values=1000,500,333,250,200,167,143,125,111,100,91,83,77,71,67,63,59,56,53,50,48,45,43,42,40,38,37,36,34,33;"
    "default=67";
constexpr const char* kQualities = " 20-30-40-50-60-70-80-,";
// The simulated camera's own profiles: H264 1080P, H264 720P and JPEG D1 at most 25 frames per second.
const std::string k1080p = "1080p 1920x1080 30 1024-2048-3072-4096-5120-6144-7168-8192-" + std::string(kQualities);
const std::string k720p = "720p 1280x720 30 1024-2048-3072-4096-5120-" + std::string(kQualities);
const std::string kD1 = "d1 720x480 25 128-256-512-1024-2048-3072-" + std::string(kQualities);

struct QueryDeleter
{
    void operator()(ipcapture::IIPCapabilityQuery* query) const { DeleteCapabilityQueryModule(query); }
};
using QueryPtr = std::unique_ptr<ipcapture::IIPCapabilityQuery, QueryDeleter>;

struct DriverDeleter
{
    void operator()(ipcapture::IIPCaptureDriver* driver) const { DeleteIPCapture(driver); }
};
using DriverPtr = std::unique_ptr<ipcapture::IIPCaptureDriverEx5, DriverDeleter>;

class DeviceSearch : public testing::HostFixture
{
protected:
    void StartCamera(CamsimOptions options = {})
    {
        options.auth = testing::DefaultCameraAuth();
        camera = std::make_unique<CamsimPeer>(options);
        ASSERT_TRUE(camera->IsReady()) << camera->StartFailure();
    }

    // The configuration file's section for the camera; the probe starts from what it says.
    void ConfigureCamera(bool multipleStreaming, std::optional<std::uint16_t> rtspPort = std::nullopt) const
    {
        std::ofstream file(hostDirectory.Path() / "BrantelIPCapture.xml");
        file << "<Configuration><Device address=\"127.0.0.1\" port=\"" << camera->HttpPort() << "\">";
        if (rtspPort)
            file << "<RTSPPort value=\"" << *rtspPort << "\"/>";
        if (!multipleStreaming)
            file << "<DisableMultipleStreaming value=\"True\"/>";
        file << "</Device></Configuration>";
    }

    // A new module (one query per module), started on the camera with its credentials.
    void StartProbe(bool videoStandard = true, const char* address = "127.0.0.1",
                    std::optional<std::uint16_t> port = std::nullopt, const char* password = "secret")
    {
        sink.SealAtOutcome(&results);
        query.reset(CreateCapabilityQueryModule(&sink, videoStandard));
        ASSERT_NE(query, nullptr);
        ASSERT_EQ(query->Start(address, port.value_or(camera ? camera->HttpPort() : 80), "admin", password, &results),
                  1);
    }

    hostkit::QueryOutcome AwaitOutcome()
    {
        const std::optional<hostkit::QueryOutcome> outcome = sink.WaitForOutcome(kOutcomeWait);
        if (!outcome)
        {
            ADD_FAILURE() << "no outcome within " << kOutcomeWait.count() << " s";
            return {};
        }
        return *outcome;
    }

    void ExpectCompleted()
    {
        const hostkit::QueryOutcome outcome = AwaitOutcome();
        ASSERT_EQ(outcome.kind, hostkit::QueryOutcome::Kind::Completed)
            << outcome.code << " " << outcome.message.value_or("<null>");
    }

    // Waits until the camera has received a request of this path, answered or not.
    bool WaitForRequest(const std::string& path, std::chrono::milliseconds timeout) const
    {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end)
        {
            for (const testing::CamsimRequest& request : camera->Requests())
            {
                if (request.path == path)
                    return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    std::vector<std::string> AnsweredTargets(const std::string& path) const
    {
        std::vector<std::string> targets;
        for (const testing::CamsimRequest& request : camera->Requests())
        {
            if (request.path == path && request.status == 200)
                targets.push_back(request.target);
        }
        return targets;
    }

    // name → (text, flag) of the named items.
    std::map<std::int32_t, std::pair<std::string, std::string>> NamedTexts() const
    {
        std::map<std::int32_t, std::pair<std::string, std::string>> texts;
        for (const auto& [id, item] : results.Snapshot().namedItems)
        {
            EXPECT_EQ(item.editable, 0) << "item " << id;
            texts[id] = {item.name.value_or("<no name>"),
                         item.text.value_or("<no text>") + "|" + std::to_string(item.flag.value_or(-1))};
        }
        return texts;
    }

    void TearDown() override
    {
        query.reset();
        UninitCapabilityQuery();
        EXPECT_EQ(sink.ThreadTerminatedCount(), expectThreadTerminated ? 1u : 0u);
        EXPECT_LE(sink.Outcomes().size(), 1u);
    }

    std::unique_ptr<CamsimPeer> camera;
    hostkit::HostCapabilityResults results{kit.SharedMisuse()};
    hostkit::HostCapabilityQuerySink sink{kit.SharedMisuse()};
    QueryPtr query;
    bool expectThreadTerminated = false;
};

struct FullProbeCase
{
    const char* name;
    bool multipleStreaming;
    std::map<std::uint32_t, std::uint32_t> values;
    std::vector<std::pair<std::string, std::uint32_t>> resolutions;
    std::string streamCapabilities;
    std::map<std::int32_t, std::pair<std::string, std::string>> streamTexts;
};

class FullProbe : public DeviceSearch, public ::testing::WithParamInterface<FullProbeCase>
{
};

// The camera's default answers: three profiles, PTZ with presets, one input and one relay.
TEST_P(FullProbe, ReportsWhatTheCameraIsAndCanStream)
{
    const FullProbeCase& expected = GetParam();
    StartCamera();
    ConfigureCamera(expected.multipleStreaming);
    StartProbe(true);
    ExpectCompleted();

    const hostkit::CapabilitySnapshot found = results.Snapshot();
    EXPECT_THAT(found.deviceName, Optional(std::string("Brantel VC-4220")));
    std::map<std::int32_t, std::string> connection;
    for (const auto& [index, item] : found.connectionItems)
        connection[index] = item.text.value_or("<no text>");
    EXPECT_EQ(connection, (std::map<std::int32_t, std::string>{
                              {1, "127.0.0.1"}, {2, std::to_string(camera->HttpPort())}, {3, "admin"}, {4, "secret"}}));
    EXPECT_EQ(found.values, expected.values);
    std::vector<std::pair<std::string, std::uint32_t>> resolutions;
    for (const hostkit::CapabilityResolutionRecord& resolution : found.resolutions)
        resolutions.emplace_back(resolution.text.value_or("<null>"), resolution.frameRateCode);
    EXPECT_EQ(resolutions, expected.resolutions);
    ASSERT_EQ(found.valueLists.count(1), 1u);
    EXPECT_EQ(found.valueLists.at(1).values, kCodesUpTo30);
    EXPECT_THAT(found.valueLists.at(1).defaultValue, Optional(67u)) << "15 frames per second";
    ASSERT_EQ(found.valueLists.count(3), 1u);
    EXPECT_THAT(found.valueLists.at(3).defaultValue, Optional(40u));

    std::map<std::int32_t, std::pair<std::string, std::string>> texts = {
        {1, {"Video standard", "1|0"}},
        {2, {"Firmware", "2.4.1 build 0312|1"}},
        {3, {"MAC address", "00:1C:A8:12:34:56|1"}},
        {4, {"RTSP port", "554|0"}},
        {5, {"Stream capabilities", expected.streamCapabilities + "|1"}},
        {6, {"PTZ features", "1,1,128|1"}},
    };
    texts.insert(expected.streamTexts.begin(), expected.streamTexts.end());
    EXPECT_EQ(NamedTexts(), texts);

    // One query per module: a new probe needs a new module.
    const std::size_t requests = camera->Requests().size();
    EXPECT_EQ(query->Start("127.0.0.1", camera->HttpPort(), "admin", "secret", &results), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(camera->Requests().size(), requests);
}

INSTANTIATE_TEST_SUITE_P(
    DeviceSearch, FullProbe,
    ::testing::Values(
        FullProbeCase{"MultipleStreaming",
                      true,
                      {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {8, 1}, {11, 0}, {12, 0}, {27, 2}},
                      {{"1920x1080", 33}},
                      "h264:" + k1080p + ";#h264:" + k720p + ";#jpeg:" + kD1 + ";#",
                      {{120, {"Live Stream: Supported Codecs", "h264|1"}},
                       {121, {"Live Stream: Supported Resolutions", "1280x720:33|1"}},
                       {122, {"Live Stream: Supported Framerates", std::string(kFrameRatesUpTo30) + "|1"}},
                       {124, {"Remote Stream: Supported Codecs", "jpeg|1"}},
                       {125, {"Remote Stream: Supported Resolutions", "720x480:40|1"}},
                       // A stream's maximum starts at 30: D1's 25 lowers only the resolution's.
                       {126, {"Remote Stream: Supported Framerates", std::string(kFrameRatesUpTo30) + "|1"}}}},
        FullProbeCase{"OneStream",
                      false,
                      {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {7, 1}, {8, 1}, {11, 0}, {12, 0}, {27, 0}},
                      {{"1920x1080", 33}, {"1280x720", 33}, {"720x480", 40}},
                      "h264:" + k1080p + k720p + ";jpeg:" + kD1 + ";#",
                      {}}),
    [](const ::testing::TestParamInfo<FullProbeCase>& info) { return info.param.name; });

// A camera that keeps its MAC address and firmware to itself, names its feature bits with a thousands
// separator and lists profiles the family's table does not know or with a broken frame-rate range:
// what is unknown is left out, the rest of the answer counts.
TEST_F(DeviceSearch, SparseAnswersGiveNoneTextsAndOnlyUsableProfiles)
{
    StartCamera();
    ASSERT_TRUE(camera->SetAnswer("/server", "Model Name=VC-1\r\nSysFeature=1,048,576\r\nlogoEnable=1\r\n"));
    ASSERT_TRUE(camera->SetAnswer("/getprofile", "profile_00_name=H264 720P\r\n"
                                                 "profile_00_fps_range=1~30\r\n"
                                                 "profile_01_name=H264 QVGA\r\n"
                                                 "profile_01_fps_range=1~30\r\n"
                                                 "profile_02_name=JPEG CIF\r\n"
                                                 "profile_02_fps_range=-10~-5\r\n"
                                                 "profile_03_name=JPEG D1\r\n"
                                                 "profile_03_fps_range=1~15\r\n"
                                                 "profile_03_quality_range=20,50,80\r\n"));
    ConfigureCamera(false);
    StartProbe(false);
    ExpectCompleted();

    const hostkit::CapabilitySnapshot found = results.Snapshot();
    EXPECT_THAT(found.deviceName, Optional(std::string("VARON VC-1")));
    EXPECT_EQ(found.values,
              (std::map<std::uint32_t, std::uint32_t>{{0, 1}, {2, 1}, {7, 1}, {8, 1}, {11, 0}, {12, 0}, {27, 0}}));
    std::vector<std::string> sizes;
    for (const hostkit::CapabilityResolutionRecord& resolution : found.resolutions)
        sizes.push_back(resolution.text.value_or("<null>") + ":" + std::to_string(resolution.frameRateCode));
    EXPECT_THAT(sizes, ElementsAre("1280x720:33", "720x480:67"));
    EXPECT_EQ(NamedTexts(), (std::map<std::int32_t, std::pair<std::string, std::string>>{
                                {1, {"Video standard", "0|0"}},
                                {2, {"Firmware", "(none)|1"}},
                                {3, {"MAC address", "(none)|1"}},
                                {4, {"RTSP port", "554|0"}},
                                {5,
                                 {"Stream capabilities", "h264:" + k720p + ";jpeg:d1 720x480 15 " +
                                                             "128-256-512-1024-2048-3072- 20-50-80-,;#|1"}},
                                {6, {"PTZ features", "0,0,0|1"}},
                            }));
}

struct FailureCase
{
    const char* name;
    // Prepares the camera; returns the port to probe.
    std::uint16_t (*prepare)(CamsimPeer& camera);
    const char* address;
    const char* password;
    std::int32_t code;
    std::vector<std::string> messageParts;
};

class FailedProbe : public DeviceSearch, public ::testing::WithParamInterface<FailureCase>
{
};

TEST_P(FailedProbe, ReachesTheHostAsItsCodeAndMessage)
{
    const FailureCase& failure = GetParam();
    StartCamera();
    const std::uint16_t port = failure.prepare(*camera);
    StartProbe(true, failure.address, port, failure.password);

    const hostkit::QueryOutcome outcome = AwaitOutcome();
    EXPECT_EQ(outcome.kind, hostkit::QueryOutcome::Kind::Failed);
    EXPECT_EQ(outcome.code, failure.code);
    ASSERT_TRUE(outcome.message);
    std::string expected;
    for (const std::string& part : failure.messageParts)
    {
        EXPECT_THAT(*outcome.message, HasSubstr(part));
        expected += part;
    }
    if (failure.messageParts.size() == 1)
    {
        EXPECT_EQ(*outcome.message, expected);
    }
    EXPECT_EQ(results.Snapshot().writeCount, 0u) << "nothing is saved from a failed query";
}

std::uint16_t AsIs(CamsimPeer& camera)
{
    return camera.HttpPort();
}

INSTANTIATE_TEST_SUITE_P(
    DeviceSearch, FailedProbe,
    ::testing::Values(
        FailureCase{"WrongCredentials",
                    AsIs,
                    "127.0.0.1",
                    "wrong",
                    1,
                    {"Failed to get camera properties: ", "credentials are invalid"}},
        FailureCase{"ClosedPort",
                    [](CamsimPeer&) { return testing::ClosedPort(); },
                    "127.0.0.1",
                    "secret",
                    2,
                    {"Failed to get camera properties, device is offline or is located in unaccessible subnet"}},
        FailureCase{"ServerNotFound",
                    [](CamsimPeer& camera)
                    {
                        camera.Control("/camsim/misbehave?path=/server&action=status&status=404");
                        return camera.HttpPort();
                    },
                    "127.0.0.1",
                    "secret",
                    0,
                    {"Failed to get camera properties"}},
        FailureCase{"ProfilesNotFound",
                    [](CamsimPeer& camera)
                    {
                        camera.Control("/camsim/misbehave?path=/getprofile&action=status&status=404");
                        return camera.HttpPort();
                    },
                    "127.0.0.1",
                    "secret",
                    0,
                    {"Failed to get camera properties"}},
        FailureCase{"NoProfile",
                    [](CamsimPeer& camera)
                    {
                        camera.SetAnswer("/getprofile", "profile_01_name=H264 720P\r\n");
                        return camera.HttpPort();
                    },
                    "127.0.0.1",
                    "secret",
                    3,
                    {"Failed to get camera properties: ", "Unable to receive and parse profile information"}},
        FailureCase{"AddressWithPort",
                    AsIs,
                    "127.0.0.1:80",
                    "secret",
                    0,
                    {"Failed to start capability fetching thread. Device address is invalid!"}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

class ThrowingHost : public DeviceSearch,
                     public ::testing::WithParamInterface<hostkit::HostCapabilityResults::WriteFault>
{
};

// An exception out of the host's container ends the query like any other failure: the host hears of it.
TEST_P(ThrowingHost, ContainerGetsAFailedQueryWithCode3)
{
    StartCamera();
    results.SetWriteFault(GetParam());
    StartProbe();
    const hostkit::QueryOutcome outcome = AwaitOutcome();
    EXPECT_EQ(outcome.kind, hostkit::QueryOutcome::Kind::Failed);
    EXPECT_EQ(outcome.code, 3);
    EXPECT_THAT(outcome.message,
                Optional(std::string("Failed to start capability fetching thread. Internal error occurs")));
}

INSTANTIATE_TEST_SUITE_P(DeviceSearch, ThrowingHost,
                         ::testing::Values(hostkit::HostCapabilityResults::WriteFault::ThrowStdException,
                                           hostkit::HostCapabilityResults::WriteFault::ThrowForeignObject),
                         [](const auto& info)
                         {
                             return info.param == hostkit::HostCapabilityResults::WriteFault::ThrowStdException
                                        ? "StdException"
                                        : "ForeignObject";
                         });

struct TerminateCase
{
    const char* name;
    const char* stall; // a misbehaviour rule of the camera
    // The path whose request the camera has received when Terminate comes; none: right after the start,
    // most likely before the first request is sent.
    const char* awaitedPath;
};

class TerminatedProbe : public DeviceSearch, public ::testing::WithParamInterface<TerminateCase>
{
};

// The process-wide form, cut short while the camera sits on a request.
TEST_P(TerminatedProbe, FailsPromptlyWithCode3)
{
    StartCamera();
    ASSERT_TRUE(camera->Control(std::string("/camsim/misbehave?") + GetParam().stall));
    ASSERT_EQ(InitCapabilityQuery(&sink, true), 1);
    EXPECT_EQ(InitCapabilityQuery(&sink, true), 0) << "one process-wide module";
    // Cut to 16 bits this port would be the camera's own.
    EXPECT_EQ(StartCapabilityQuery("127.0.0.1", camera->HttpPort() + 65536, "admin", "secret", &results), 0);
    EXPECT_EQ(StartCapabilityQuery("127.0.0.1", camera->HttpPort(), nullptr, "secret", &results), 0);
    ASSERT_EQ(StartCapabilityQuery("127.0.0.1", camera->HttpPort(), "admin", "secret", &results), 1);
    if (GetParam().awaitedPath != nullptr)
    {
        ASSERT_TRUE(WaitForRequest(GetParam().awaitedPath, 10s));
    }

    const auto start = Clock::now();
    EXPECT_EQ(TerminateCapabilityQuery(), 1);
    const std::optional<hostkit::QueryOutcome> outcome = sink.WaitForOutcome(kPromptly);
    EXPECT_LT(Clock::now() - start, kPromptly);
    EXPECT_EQ(UninitCapabilityQuery(), 1);
    EXPECT_LT(Clock::now() - start, kPromptly) << "the ended query is not waited for";
    EXPECT_EQ(UninitCapabilityQuery(), 1);
    EXPECT_EQ(TerminateCapabilityQuery(), 1);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, hostkit::QueryOutcome::Kind::Failed);
    EXPECT_EQ(outcome->code, 3);
    EXPECT_THAT(outcome->message,
                Optional(std::string("Failed to get camera properties: Capability search query was aborted")));
}

INSTANTIATE_TEST_SUITE_P(
    DeviceSearch, TerminatedProbe,
    ::testing::Values(
        TerminateCase{"StalledProfiles", "path=/getprofile&action=stall-before-headers&seconds=60", "/getprofile"},
        TerminateCase{"StalledIdentityBody", "path=/server&action=stall-after-headers&seconds=60", "/server"},
        TerminateCase{"RightAfterTheStart", "path=/server&action=stall-before-headers&seconds=60", nullptr}),
    [](const ::testing::TestParamInfo<TerminateCase>& info) { return info.param.name; });

// The deletion cuts the camera's request short instead of sitting out the request time-out.
TEST_F(DeviceSearch, DeletionWhileTheCameraStallsEndsTheQueryPromptly)
{
    StartCamera();
    ASSERT_TRUE(camera->Control("/camsim/misbehave?path=/server&action=stall-before-headers&seconds=60"));
    StartProbe();
    ASSERT_TRUE(WaitForRequest("/server", 10s));

    const auto start = Clock::now();
    query.reset();
    EXPECT_LT(Clock::now() - start, kPromptly);
    // Every query that ran reports once, a cut one too.
    const std::vector<hostkit::QueryOutcome> outcomes = sink.Outcomes();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes.front().code, 3) << outcomes.front().message.value_or("<null>");
}

// A host that sits in its callback past the module's stop wait: the deletion gives up on the thread
// after the wait and says so, and the thread, once the host lets it go, touches nothing of the
// deleted module.
TEST_F(DeviceSearch, AQueryThreadHeldPastTheStopWaitIsReportedTerminated)
{
    StartCamera();
    std::mutex mutex;
    std::condition_variable released;
    bool entered = false;
    bool release = false;
    sink.SetOutcomeHook(
        [&](const hostkit::QueryOutcome&)
        {
            std::unique_lock lock(mutex);
            entered = true;
            released.notify_all();
            released.wait_for(lock, kStopWait * 3, [&] { return release; });
        });
    StartProbe();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(released.wait_for(lock, kOutcomeWait, [&] { return entered; }));
    }

    const auto start = Clock::now();
    std::thread deleter([&] { query.reset(); });
    const bool terminated = sink.WaitForThreadTerminated(kStopWait * 2);
    const auto elapsed = Clock::now() - start;
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    deleter.join();
    ASSERT_TRUE(terminated);
    EXPECT_GE(elapsed, kStopWait - 1s);
    ASSERT_TRUE(sink.WaitForOutcome(kPromptly)) << "the callback returned";
    EXPECT_EQ(sink.Outcomes().front().kind, hostkit::QueryOutcome::Kind::Completed);
    sink.SetOutcomeHook(nullptr);
    expectThreadTerminated = true;
}

TEST_F(DeviceSearch, DeletionFromInsideOnQueryCompleted)
{
    StartCamera();
    sink.SetOutcomeHook(
        [&](const hostkit::QueryOutcome& outcome)
        {
            EXPECT_EQ(outcome.kind, hostkit::QueryOutcome::Kind::Completed);
            query.reset();
        });
    StartProbe();
    const std::optional<hostkit::QueryOutcome> outcome = sink.WaitForOutcome(kOutcomeWait);
    ASSERT_TRUE(outcome) << "the deletion from inside the callback returned";
    EXPECT_EQ(outcome->kind, hostkit::QueryOutcome::Kind::Completed);
    EXPECT_NE(outcome->callingThread, std::this_thread::get_id());
    EXPECT_EQ(query, nullptr);
    EXPECT_EQ(results.DeviceDetailTexts().size(), 6u);
}

// The host's round trip: the texts of a device search become the extra parameters of the driver's
// Open, and every stream asks the camera for the profile the channels' rules pick from them.
class ProbedTextsFedBack : public DeviceSearch
{
protected:
    struct StreamRequest
    {
        std::uint32_t streamKind;
        std::int32_t codec; // 3 H.264, 1 JPEG
        std::uint16_t width;
        std::uint16_t height;
        std::uint16_t frameRate;
    };

    void OpenDriverWithProbedTexts()
    {
        ASSERT_TRUE(results.WriteDeviceDetails(kit.Params()));
        kit.Connection().SetAddress("127.0.0.1");
        kit.Connection().SetPort(camera->HttpPort());
        kit.Connection().SetUserName("admin");
        kit.Connection().SetPassword("secret");
        driver.reset(static_cast<ipcapture::IIPCaptureDriverEx5*>(CreateIPCaptureEx5()));
        ASSERT_NE(driver, nullptr);
        ASSERT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        capture = driver->GetVideoCaptureEx2();
        ASSERT_NE(capture, nullptr);
    }

    // Starts one stream and stops it once the camera answered its stream configuration; the target
    // of that request.
    std::string ConfigurationOf(const StreamRequest& request, hostkit::HostFrameSink& frames,
                                std::uint64_t framesToWait = 0)
    {
        camera->ForgetRequests();
        kit.Channel().Format().SetCodec(request.codec);
        kit.Channel().Format().Resolution().Set(request.width, request.height);
        kit.Channel().Recording().SetFrameRate(request.frameRate);
        kit.Channel().Recording().SetQuality(50);
        if (!capture->StartStream(0, request.streamKind, &frames, &kit.Channel()))
            return "<start refused>";
        const auto end = Clock::now() + 15s;
        while (AnsweredTargets("/setstreaming").empty() && Clock::now() < end)
            std::this_thread::sleep_for(20ms);
        if (framesToWait > 0)
        {
            EXPECT_TRUE(frames.WaitForFrames(framesToWait, 30s));
        }
        capture->StopStream(0, request.streamKind);
        const std::vector<std::string> targets = AnsweredTargets("/setstreaming");
        return targets.empty() ? "<none>" : targets.front();
    }

    void TearDown() override
    {
        if (driver)
            driver->Close();
        driver.reset();
        EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
        DeviceSearch::TearDown();
    }

    DriverPtr driver;
    ipcapture::IIPVideoCaptureEx2* capture = nullptr;
};

// With the camera's RTSP side: the probe learns the RTSP port from the configuration, and the remote
// stream it configured delivers pictures.
TEST_F(ProbedTextsFedBack, EveryStreamGetsItsOwnProfileWithMultipleStreaming)
{
    CamsimOptions options;
    options.rtsp = true;
    StartCamera(options);
    ConfigureCamera(true, camera->RtspPort());
    StartProbe();
    ExpectCompleted();
    EXPECT_EQ(results.DeviceDetailTexts().at(4), std::to_string(camera->RtspPort()));
    OpenDriverWithProbedTexts();

    hostkit::HostFrameSink main(kit.SharedMisuse());
    hostkit::HostFrameSink live(kit.SharedMisuse());
    hostkit::HostFrameSink remote(kit.SharedMisuse());
    EXPECT_EQ(ConfigurationOf({kStreamMain, 3, 1920, 1080, 25}, main),
              "/setstreaming?profilename=H2641080P&vbrcbr=0&bitrate=4096&Iframeperiod=25&outrate=25");
    EXPECT_EQ(ConfigurationOf({kStreamLive, 3, 1280, 720, 30}, live),
              "/setstreaming?profilename=H264720P&vbrcbr=0&bitrate=3072&Iframeperiod=30&outrate=30");
    // 30 frames per second asked, 25 the most the probe found for D1.
    EXPECT_EQ(ConfigurationOf({kStreamRemote, 1, 720, 480, 30}, remote, 3),
              "/setstreaming?profilename=JPEGD1&outrate=25&quality=50");
    for (const hostkit::DeliveredFrame& frame : remote.Frames())
    {
        EXPECT_EQ(frame.typeCode, ipcapture::kTypeCodeJpeg);
        EXPECT_EQ(frame.width, 720u);
    }
}

// Without multiple streaming every profile belongs to the main stream, which can then stream JPEG.
TEST_F(ProbedTextsFedBack, TheMainStreamChoosesAmongAllProfilesWithoutMultipleStreaming)
{
    StartCamera();
    ConfigureCamera(false);
    StartProbe();
    ExpectCompleted();
    OpenDriverWithProbedTexts();

    hostkit::HostFrameSink frames(kit.SharedMisuse());
    EXPECT_EQ(ConfigurationOf({kStreamMain, 1, 704, 480, 10}, frames),
              "/setstreaming?profilename=JPEGD1&outrate=10&quality=50");
    EXPECT_EQ(ConfigurationOf({kStreamMain, 3, 1280, 720, 30}, frames),
              "/setstreaming?profilename=H264720P&vbrcbr=0&bitrate=3072&Iframeperiod=30&outrate=30");
}
}
}
