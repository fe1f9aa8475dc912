// brantel-host ptz against the simulated camera: each run opens the module afresh, as a host restarts,
// and the presets it saves are found again by the next run.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/camsim_peer.h"

namespace kestrav::hostbench
{
namespace
{
struct PtzRun
{
    int status = -1;
    std::string output;
};

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
        presetFile =
            std::filesystem::path(BRANTEL_HOST_PROGRAM).parent_path() / ("BrantelIPCapture_" + this->mac + ".preset");
        outputFile = std::filesystem::temp_directory_path() / ("ptz-command-" + this->mac + ".txt");
    }
    void TearDown() override
    {
        std::filesystem::remove(presetFile);
        std::filesystem::remove(outputFile);
    }

    PtzRun Run(const std::string& action, const std::string& features = "1,1,1")
    {
        const std::string command = std::string(BRANTEL_HOST_PROGRAM) + " ptz --port " +
                                    std::to_string(camera.HttpPort()) + " --param 3=" + mac +
                                    " --param '6=" + features + "' --wait 0.3 " + action + " >" + outputFile.string() +
                                    " 2>&1 </dev/null";
        const int raw = std::system(command.c_str());
        PtzRun run;
        run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream input(outputFile, std::ios::binary);
        run.output.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
        return run;
    }

    std::vector<std::string> TakeTargets()
    {
        std::vector<std::string> targets;
        for (const testing::CamsimRequest& request : camera.Requests())
            targets.push_back(request.target);
        camera.ForgetRequests();
        return targets;
    }

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
        const PtzRun run = Run(step.action);
        EXPECT_EQ(run.status, step.status) << run.output;
        EXPECT_NE(run.output.find(step.printed), std::string::npos) << run.output;
        EXPECT_EQ(TakeTargets(), step.targets);
    }
    const PtzRun refused = Run("zoom in", "1,0,1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("zoom in: -19 (not supported by the camera)"), std::string::npos) << refused.output;
}
}
}
