// The brantel-host program against the simulated camera: live H.264 and JPEG for a few seconds,
// written to files that FFmpeg decodes, and a device search whose details the recording then uses.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/camsim_peer.h"
#include "support/child_process.h"
#include "support/ffmpeg_tools.h"
#include "support/program_run.h"

#ifndef BRANTEL_HOST_PROGRAM
#error "BRANTEL_HOST_PROGRAM must name the brantel-host program"
#endif
#ifndef BRANTEL_HOST_SOURCE_DIR
#error "BRANTEL_HOST_SOURCE_DIR must name the repository"
#endif

namespace kestrav::hostbench
{
namespace
{
using namespace std::chrono_literals;
using testing::ProgramRun;

// Small pictures keep the camera's encoders light on a busy test machine.
constexpr const char* kProfiles = "profile_00_name=H264 CIF\r\n"
                                  "profile_00_fps_range=1~30\r\n"
                                  "profile_00_bps_range=256,512,1024\r\n"
                                  "profile_00_quality_range=\r\n"
                                  "profile_01_name=JPEG QVGA\r\n"
                                  "profile_01_fps_range=1~25\r\n"
                                  "profile_01_bps_range=\r\n"
                                  "profile_01_quality_range=20,30,40,50,60,70,80\r\n";
// The same profiles as the device search writes them, for the main and the live stream.
constexpr const char* kStreamCapabilities = "h264:cif 352x240 30 256-512-1024- 20-30-40-50-60-70-80-,;"
                                            "jpeg:qvga 320x240 25  20-30-40-50-60-70-80-,;#"
                                            "h264:cif 352x240 30 256-512-1024- 20-30-40-50-60-70-80-,;"
                                            "jpeg:qvga 320x240 25  20-30-40-50-60-70-80-,;#";

// In the directory shared with the Linux peers, so that FFmpeg reads what the program wrote also under Wine.
class TemporaryDirectory
{
public:
    TemporaryDirectory() : path_(testing::MakeSharedDirectory("host-bench-it-")) {}
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// For the shell that runs FFmpeg.
std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream input(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}

// The program of this build as this test names it (under Wine, on drive Z:).
std::filesystem::path HostProgram()
{
    return testing::LocalPath(BRANTEL_HOST_PROGRAM);
}

// brantel-host with the arguments, its stdout and stderr, and its exit status. Every run is bounded: the longest
// records 3 s.
ProgramRun RunHost(const std::vector<std::string>& arguments, const std::filesystem::path& outputFile,
                   const std::filesystem::path& program = HostProgram())
{
    std::vector<std::string> command{program.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return testing::RunProgram(command, outputFile, 60s);
}

// The simulated camera with its HTTP and RTSP sides on free ports.
class SimulatedCamera
{
public:
    explicit SimulatedCamera(const char* profiles = kProfiles)
        : process_({"/usr/bin/python3", std::string(BRANTEL_HOST_SOURCE_DIR) + "/tools/camsim/camsim.py",
                    "--profile-text", profiles, "--fps", "10"})
    {
        if (const auto rtsp = process_.WaitForLine("RTSP ", 30s))
            rtspPort_ = std::stoi(rtsp->substr(5));
        if (const auto ready = process_.WaitForLine("READY ", 30s))
            httpPort_ = std::stoi(ready->substr(6));
    }

    bool IsReady() const { return rtspPort_ != 0 && httpPort_ != 0; }
    int HttpPort() const { return httpPort_; }
    int RtspPort() const { return rtspPort_; }

private:
    testing::ChildProcess process_;
    int rtspPort_ = 0;
    int httpPort_ = 0;
};

bool DecoderInstalled()
{
    return std::filesystem::exists(testing::LocalPath(testing::kFfmpeg)) &&
           std::filesystem::exists(testing::LocalPath(testing::kFfprobe));
}

TEST(HostBenchProgram, RecordsLiveH264AndJpegThatDecode)
{
    SimulatedCamera camera;
    ASSERT_TRUE(camera.IsReady()) << "the simulated camera did not start";
    TemporaryDirectory directory;
    const std::filesystem::path out = directory.Path() / "recording";
    const std::filesystem::path params = directory.Path() / "camera.params";
    std::ofstream(params) << "# as a device search writes it\n4=" << camera.RtspPort() << "\n5=" << kStreamCapabilities
                          << "\n";

    const ProgramRun run = RunHost({"record", "--port", std::to_string(camera.HttpPort()), "--params-file",
                                    params.string(), "--stream", "h264,size=352x240,fps=10,quality=50", "--stream",
                                    "jpeg,kind=live,size=320x240,fps=5", "--duration", "3", "--out", out.string()},
                                   directory.Path() / "output.txt");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("every stream received frames"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ch0-main-h264  "), std::string::npos) << "a status line per stream\n" << run.output;
    EXPECT_EQ(run.output.find("MISUSE"), std::string::npos) << run.output;

    const std::filesystem::path h264 = out / "ch0-main-h264.h264";
    const std::filesystem::path mjpeg = out / "ch0-live-jpeg.mjpeg";
    ASSERT_GT(std::filesystem::file_size(h264), 0u);
    ASSERT_GT(std::filesystem::file_size(mjpeg), 0u);
    if (!DecoderInstalled())
        GTEST_SKIP() << "ffmpeg not installed; the files were written but not decoded";

    const std::pair<std::filesystem::path, std::string> files[] = {{h264, "h264,352,240"}, {mjpeg, "mjpeg,320,240"}};
    for (const auto& [file, expected] : files)
    {
        SCOPED_TRACE(file.string());
        // The Linux tools, also under Wine: the file named as they name it.
        const std::string peerFile = Quoted(testing::PeerPath(file));
        const std::string decode =
            testing::RunCommand(std::string(testing::kFfmpeg) + " -nostdin -hide_banner -v error -i " + peerFile +
                                " -f null - 2>&1 || echo \"ffmpeg: exit status $?\"");
        EXPECT_EQ(decode, "") << "FFmpeg complains";
        const std::string probe = testing::RunCommand(std::string(testing::kFfprobe) +
                                                      " -v error -count_frames -select_streams v:0 -show_entries "
                                                      "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " +
                                                      peerFile);
        EXPECT_EQ(probe.rfind(expected + ",", 0), 0u) << probe;
        const int frames = std::atoi(probe.substr(expected.size() + 1).c_str());
        EXPECT_GE(frames, 5) << "a few seconds of video";
    }
}

// What a benchmark runs: the camera opened as two devices, frames counted and dropped, the summary with totals and
// the process's figures, and no output written anywhere.
TEST(HostBenchProgram, DiscardCountsTheFramesOfEveryDeviceAndWritesNothing)
{
    SimulatedCamera camera;
    ASSERT_TRUE(camera.IsReady()) << "the simulated camera did not start";
    TemporaryDirectory directory;
    const std::filesystem::path out = directory.Path() / "recording";
    const std::filesystem::path params = directory.Path() / "camera.params";
    std::ofstream(params) << "4=" << camera.RtspPort() << "\n5=" << kStreamCapabilities << "\n";

    const ProgramRun run = RunHost({"record", "--port", std::to_string(camera.HttpPort()), "--params-file",
                                    params.string(), "--stream", "h264,size=352x240,fps=10,quality=50", "--devices",
                                    "2", "--discard", "--duration", "3", "--out", out.string()},
                                   directory.Path() / "output.txt");
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char* expected : {"dev1-ch0-main-h264: ", "dev2-ch0-main-h264: ", "totals: 2 streams, 2 with frames",
                                 " CPU-s per 1000 frames, ", " threads, VmRSS "})
        EXPECT_NE(run.output.find(expected), std::string::npos) << expected << "\n" << run.output;
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing goes to the disk";
}

// The camera's HTTP side alone, with two relays and its alarm input active.
class HostBenchAlarms : public ::testing::Test
{
protected:
    HostBenchAlarms() : camera(Options()) {}

    static testing::CamsimOptions Options()
    {
        testing::CamsimOptions options;
        options.extraArguments = {"--alarm-interval", "0", "--relays", "2"};
        return options;
    }

    testing::CamsimPeer camera;
    TemporaryDirectory directory;
};

TEST_F(HostBenchAlarms, IoSwitchesRelaysAndPrintsInputChanges)
{
    ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
    ASSERT_TRUE(camera.Control("/camsim/alarm?input=1"));
    const std::filesystem::path params = directory.Path() / "camera.params";
    std::ofstream(params) << "3=00-11-22-33-44-55\n";

    const ProgramRun run = RunHost({"io", "--port", std::to_string(camera.HttpPort()), "--params-file", params.string(),
                                    "--outputs", "2", "--relay", "2=on", "--watch", "1"},
                                   directory.Path() / "io.txt");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("relay 2: on"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("input 1: active"), std::string::npos) << run.output;
    const std::optional<std::string> state = camera.Control("/camsim/state");
    ASSERT_TRUE(state);
    EXPECT_NE(state->find("\"relays\": {\"1\": 0, \"2\": 1}"), std::string::npos) << *state;
}

// No RTSP side, so no video: the motion records still arrive, printed and counted.
TEST_F(HostBenchAlarms, RecordWithMotionPrintsAndCountsMotionRecords)
{
    ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
    const ProgramRun run = RunHost({"record", "--port", std::to_string(camera.HttpPort()), "--stream", "h264",
                                    "--motion", "--duration", "2", "--out", (directory.Path() / "out").string()},
                                   directory.Path() / "record.txt");
    EXPECT_EQ(run.status, 1) << "no video frames\n" << run.output;
    EXPECT_NE(run.output.find("ch0-main-h264: motion on"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ch0-main-h264: motion off"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("    2 motion records"), std::string::npos) << run.output;
}

TEST(HostBenchProgram, UsageErrorsAndAMissingModuleHaveTheirExitStatus)
{
    TemporaryDirectory directory;
    const ProgramRun usage = RunHost({"record", "--stream", "vp8"}, directory.Path() / "u.txt");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.output.find("stream codec must be h264 or jpeg, not 'vp8'"), std::string::npos) << usage.output;

    const ProgramRun missing =
        RunHost({"record", "--stream", "h264", "--duration", "1", "--module", (directory.Path() / "none.so").string(),
                 "--out", (directory.Path() / "out").string()},
                directory.Path() / "m.txt");
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.output.find("cannot load the module"), std::string::npos) << missing.output;
}

// A host's whole sequence with nothing typed by hand: the program runs from a directory of its own, where
// the driver's configuration names the camera's RTSP port as an installation would; probe searches the
// camera and writes the device details, and record takes them to choose its streams.
TEST(HostBenchProgram, ProbeWritesTheDeviceDetailsThatRecordThenUses)
{
    SimulatedCamera camera("profile_00_name=H264 CIF\r\nprofile_00_fps_range=1~30\r\nprofile_00_bps_range=256,512\r\n"
                           "profile_00_quality_range=\r\nprofile_01_name=JPEG CIF\r\nprofile_01_fps_range=1~25\r\n"
                           "profile_01_bps_range=\r\nprofile_01_quality_range=20,50,80\r\n");
    ASSERT_TRUE(camera.IsReady()) << "the simulated camera did not start";
    TemporaryDirectory directory;
    const std::filesystem::path host = directory.Path() / HostProgram().filename();
    std::filesystem::copy_file(HostProgram(), host);
    std::ofstream(directory.Path() / "BrantelIPCapture.xml")
        << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration>\n  <Device address=\"127.0.0.1\" port=\""
        << camera.HttpPort() << "\"><RTSPPort value=\"" << camera.RtspPort() << "\"/></Device>\n</Configuration>\n";
    const std::filesystem::path params = directory.Path() / "camera.params";

    const ProgramRun probe = RunHost(
        {"probe", "--address", "127.0.0.1", "--port", std::to_string(camera.HttpPort()), "--out", params.string()},
        directory.Path() / "probe.txt", host);
    ASSERT_EQ(probe.status, 0) << probe.output;
    for (const char* shown :
         {"VC-4220", "00:1C:A8:12:34:56", "2.4.1 build 0312", "pan, tilt, focus, iris, zoom; 128 presets",
          "Inputs          1", "Relays          1", "main    h264   cif      352x240"})
        EXPECT_NE(probe.output.find(shown), std::string::npos) << shown << "\n" << probe.output;
    const std::string details = ReadText(params);
    EXPECT_NE(details.find("\n4=" + std::to_string(camera.RtspPort()) + "\n"), std::string::npos) << details;
    EXPECT_NE(details.find("\n6=1,1,128\n"), std::string::npos) << details;

    const std::filesystem::path out = directory.Path() / "recording";
    const ProgramRun record = RunHost({"record", "--port", std::to_string(camera.HttpPort()), "--params-file",
                                       params.string(), "--stream", "h264,size=352x240,fps=10", "--stream",
                                       "jpeg,kind=live,size=352x240,fps=5", "--duration", "2", "--out", out.string()},
                                      directory.Path() / "record.txt", host);
    ASSERT_EQ(record.status, 0) << record.output;
    EXPECT_GT(std::filesystem::file_size(out / "ch0-main-h264.h264"), 0u);
    EXPECT_GT(std::filesystem::file_size(out / "ch0-live-jpeg.mjpeg"), 0u);
}

TEST(HostBenchProgram, AProbeOfAClosedPortPrintsItsCodeAndMessage)
{
    TemporaryDirectory directory;
    const ProgramRun probe =
        RunHost({"probe", "--port", "1", "--timeout", "20", "--out", (directory.Path() / "p").string()},
                directory.Path() / "probe.txt");
    EXPECT_EQ(probe.status, 1) << probe.output;
    EXPECT_NE(probe.output.find("failed with code 2 (camera offline or unreachable): "), std::string::npos)
        << probe.output;
    EXPECT_FALSE(std::filesystem::exists(directory.Path() / "p"));
}
}
}
