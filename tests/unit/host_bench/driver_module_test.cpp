// The bench against the real module, loaded with dlopen as the program loads it. No camera: the
// device is a closed port of the local machine.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "hostkit/host_kit.h"
#include "temporary_directory.h"
#include "tools/host/driver_session.h"
#include "tools/host/module_loader.h"
#include "tools/host/record_command.h"
#include "tools/host/summary.h"

#ifndef BRANTEL_HOST_TEST_MODULE
#error "BRANTEL_HOST_TEST_MODULE must name the module of the build tree"
#endif

namespace kestrav::hostbench
{
namespace
{
using namespace std::chrono_literals;

// The discard port: nothing listens there on a test machine, so connections are refused at once.
constexpr std::uint16_t kClosedPort = 9;

DeviceOptions ClosedDevice()
{
    DeviceOptions device;
    device.port = kClosedPort;
    device.model = "VC-4220";
    return device;
}

class HostBenchDriverModule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(module.Load(BRANTEL_HOST_TEST_MODULE, error)) << error;
        kit.SetMisuseHandler([](const std::string& misuse) { ADD_FAILURE() << "misuse: " << misuse; });
    }

    DriverModule module;
    hostkit::HostKit kit;
};

// A shared library every system has, without the module's exports.
#if defined(_WIN32)
constexpr const char* kForeignLibrary = "version.dll";
#else
constexpr const char* kForeignLibrary = "libm.so.6";
#endif

TEST(HostBenchModuleLoader, AMissingFileOrAForeignLibraryIsReportedWithItsPath)
{
    DriverModule module;
    std::string error;
    const std::string missing = std::string("/nonexistent/") + DriverModule::kFileName;
    EXPECT_FALSE(module.Load(missing, error));
    EXPECT_NE(error.find("cannot load the module " + missing), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(module.Load(kForeignLibrary, error));
    EXPECT_NE(error.find(std::string(kForeignLibrary) + " is not a capture driver module"), std::string::npos) << error;
    EXPECT_NE(error.find("CreateIPCaptureEx5"), std::string::npos) << error;
    EXPECT_EQ(module.CreateDriver(), nullptr);
}

TEST(HostBenchModuleLoader, LooksBesideTheProgramThenInItsLibDirectoryThenInTheBuildTree)
{
    const std::filesystem::path built = std::filesystem::path("/build/src") / DriverModule::kFileName;
    const std::vector<std::filesystem::path> candidates = DefaultModuleCandidates("/opt/bench/bin/brantel-host", built);
    const std::vector<std::filesystem::path> expected = {
        std::filesystem::path("/opt/bench/bin") / DriverModule::kFileName,
        std::filesystem::path("/opt/bench/lib") / DriverModule::kFileName, built};
    EXPECT_EQ(candidates, expected);

    TemporaryDirectory directory;
    const std::filesystem::path present = directory.Path() / "lib" / DriverModule::kFileName;
    std::filesystem::create_directories(present.parent_path());
    std::ofstream(present) << "module";
    const std::vector<std::filesystem::path> found =
        DefaultModuleCandidates(directory.Path() / "bin" / "brantel-host", built);
    EXPECT_EQ(FirstExisting(found), present);
    EXPECT_EQ(FirstExisting(expected), expected.back()) << "none there: the last, for the message";
}

TEST_F(HostBenchDriverModule, OpensTheDeviceAsDescribedAndClosesIt)
{
    DeviceOptions device = ClosedDevice();
    // Only 2 given: the host fills 1 with the empty value, or the module would never read 2.
    device.extraParams = {{2, "2.4.1"}};
    ConfigureHost(kit, device, 3);
    {
        DriverSession session(module, kit);
        std::string error;
        ASSERT_TRUE(session.Open(error)) << error;
        EXPECT_TRUE(session.IsOpen());
        EXPECT_EQ(session.ChannelCount(), 3u);
        EXPECT_TRUE(kit.Debug().WaitFor("device model: VC-4220, FW: 2.4.1, address: 127.0.0.1:9", 0ms))
            << "the driver read the model, the firmware and the connection";
        session.Close();
        EXPECT_FALSE(session.IsOpen());
        EXPECT_EQ(session.ChannelCount(), 0u);
        session.Close();
    }
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(HostBenchDriverModule, AStreamTheCaptureObjectCannotPlaceFailsCleanly)
{
    ConfigureHost(kit, ClosedDevice(), 1);
    DriverSession session(module, kit);
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;

    hostkit::HostFrameSink sink(kit.SharedMisuse());
    hostkit::HostChannelParams params(kit.SharedMisuse());
    StreamRequest beyond = ParseStreamRequest("h264,channel=1");
    EXPECT_FALSE(session.StartStream(beyond, sink, params)) << "the device has one channel";
    EXPECT_FALSE(session.StopStream(beyond));

    // MPEG-4 has no channel class: the factory makes nothing.
    params.Format().SetCodec(2);
    EXPECT_FALSE(session.StartStream(ParseStreamRequest("h264"), sink, params));
    session.Close();
    EXPECT_FALSE(session.StartStream(ParseStreamRequest("h264"), sink, params)) << "closed";
    EXPECT_EQ(sink.DeliveredCount(), 0u);
}

TEST(HostBenchRecordRun, ACameraThatSendsNothingEndsWithTheNoFrameStatusAndTheSummary)
{
    TemporaryDirectory directory;
    RecordOptions options;
    options.modulePath = BRANTEL_HOST_TEST_MODULE;
    options.device = ClosedDevice();
    options.streams = {ParseStreamRequest("h264"), ParseStreamRequest("jpeg,kind=live")};
    options.outDirectory = directory.Path() / "out";
    options.durationSeconds = 0.3;
    std::ostringstream out;
    Console console(out, out, Console::Mode::Plain);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunRecord(options, console, [] { return false; }), kExitNoFrames);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 60s) << "stopping a stream that never connected hangs";

    const std::string output = out.str();
    // The level depends on the host version the module finds; the line is there either way.
    EXPECT_NE(output.find("] DRIVER IS OPENED (name: BrantelIPCapture, device model: VC-4220"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Summary: recorded"), std::string::npos) << output;
    EXPECT_NE(output.find("2 of 2 streams received no frame: ch0-main-h264 ch0-live-jpeg"), std::string::npos)
        << output;
    EXPECT_EQ(output.find("MISUSE"), std::string::npos) << output;
    EXPECT_TRUE(std::filesystem::exists(options.outDirectory / "ch0-main-h264.h264"));
    EXPECT_TRUE(std::filesystem::exists(options.outDirectory / "ch0-live-jpeg.mjpeg"));
}

TEST(HostBenchRecordRun, AnInterruptEndsTheRecordingAndIsNamedInTheSummary)
{
    TemporaryDirectory directory;
    RecordOptions options;
    options.modulePath = BRANTEL_HOST_TEST_MODULE;
    options.device = ClosedDevice();
    options.streams = {ParseStreamRequest("h264")};
    options.outDirectory = directory.Path();
    std::ostringstream out;
    Console console(out, out, Console::Mode::Plain);

    // No duration: only the interrupt ends it.
    EXPECT_EQ(RunRecord(options, console, [] { return true; }), kExitNoFrames);
    EXPECT_NE(out.str().find("(interrupted)"), std::string::npos) << out.str();
}

TEST(HostBenchRecordRun, NothingIsStartedWhenTheModuleOrTheOutputIsMissing)
{
    TemporaryDirectory directory;
    RecordOptions options;
    options.device = ClosedDevice();
    options.streams = {ParseStreamRequest("h264")};
    options.outDirectory = directory.Path();
    options.durationSeconds = 30;
    std::ostringstream out;
    Console console(out, out, Console::Mode::Plain);

    options.modulePath = directory.Path() / "libBrantelIPCapture.so";
    EXPECT_EQ(RunRecord(options, console, [] { return false; }), kExitFailed);
    EXPECT_NE(out.str().find("cannot load the module"), std::string::npos) << out.str();

    options.modulePath = BRANTEL_HOST_TEST_MODULE;
    std::ofstream(directory.Path() / "file") << "not a directory";
    options.outDirectory = directory.Path() / "file" / "out";
    out.str("");
    EXPECT_EQ(RunRecord(options, console, [] { return false; }), kExitFailed);
    EXPECT_NE(out.str().find("cannot create the output directory"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("DRIVER IS OPENED"), std::string::npos) << "the camera was never touched";
}
}
}
