// brantel-host ptz against the simulated camera: each run opens the module afresh, as a host restarts,
// and the presets it saves are found again by the next run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/camsim_peer.h"
#include "support/child_process.h"
#include "support/program_run.h"

namespace kestrav::hostbench
{
namespace
{
using testing::ProgramRun;

class PtzCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
        // A MAC of this run alone: the module keeps its preset file beside the program.
        char mac[13];
        std::snprintf(mac, sizeof mac, "02%010llx", static_cast<unsigned long long>(std::random_device()()));
        this->mac = mac;
        presetFile = program.parent_path() / ("BrantelIPCapture_" + this->mac + ".preset");
        outputFile = std::filesystem::temp_directory_path() / ("ptz-command-" + this->mac + ".txt");
    }
    void TearDown() override
    {
        std::filesystem::remove(presetFile);
        std::filesystem::remove(outputFile);
    }

    // `action` is words without spaces in them, as typed.
    ProgramRun Run(const std::string& action, const std::string& features = "1,1,1")
    {
        std::vector<std::string> command{program.string(), "ptz",      "--port",  std::to_string(camera.HttpPort()),
                                         "--param",        "3=" + mac, "--param", "6=" + features,
                                         "--wait",         "0.3"};
        std::istringstream words(action);
        for (std::string word; words >> word;)
            command.push_back(word);
        return testing::RunProgram(command, outputFile, std::chrono::seconds(30));
    }

    std::vector<std::string> TakeTargets()
    {
        std::vector<std::string> targets;
        for (const testing::CamsimRequest& request : camera.Requests())
            targets.push_back(request.target);
        camera.ForgetRequests();
        return targets;
    }

    // Under Wine on drive Z:; the module keeps its presets beside it.
    const std::filesystem::path program = testing::LocalPath(BRANTEL_HOST_PROGRAM);
    testing::CamsimPeer camera;
    std::string mac;
    std::filesystem::path presetFile;
    std::filesystem::path outputFile;
};

TEST_F(PtzCommandTest, ActionsReachTheCameraAndPresetsOutliveTheRun)
{
    struct Step
    {
        const char* action;
        int status;
        const char* printed;
        std::vector<std::string> targets;
    };
    const Step steps[] = {
        {"move up-right --speed 16", 0, "move up-right: 1 (done)", {"/control?camid=1&rtilt=7&rpan=7"}},
        {"preset save Gate", 0, "preset save Gate: 1 (done)", {"/ptzpreset?camid=1&set_preset=0"}},
        {"preset save Yard", 1, "preset save Yard: -26 (no room for another preset)", {}},
        {"preset rename Gate Front", 0, "preset rename Gate Front: 1 (done)", {"/ptzpreset?camid=1&goto_preset=0"}},
        {"preset list", 0, "0: Front", {}},
        {"preset goto Gate", 1, "preset goto Gate: -23", {}},
        {"preset delete Front", 0, "preset delete Front: 1 (done)", {"/ptzpreset?camid=1&rem_preset=0"}},
        {"move sideways", 2, "ptz needs one action", {}},
    };
    for (const Step& step : steps)
    {
        SCOPED_TRACE(step.action);
        const ProgramRun run = Run(step.action);
        EXPECT_EQ(run.status, step.status) << run.output;
        EXPECT_NE(run.output.find(step.printed), std::string::npos) << run.output;
        EXPECT_EQ(TakeTargets(), step.targets);
    }
    const ProgramRun refused = Run("zoom in", "1,0,1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("zoom in: -19 (not supported by the camera)"), std::string::npos) << refused.output;
}
}
}
