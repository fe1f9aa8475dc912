#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/host_capability_query_sink.h"
#include "hostkit/host_capability_results.h"
#include "http/capability_query_module.h"
#include "http/varon_capability_query_module.h"
#include "platform/wait.h"
#include "runtime/event.h"
#include "support/camsim_peer.h"
#include "support/host_fixture.h"
#include "support/wine_support.h"

namespace kestrav
{
namespace
{
using hostkit::HostCapabilityQuerySink;
using hostkit::HostCapabilityResults;
using hostkit::QueryOutcome;

constexpr std::chrono::seconds kPatience{30};

// "completed", "failed <code>: <message>", or "none" when no outcome came.
std::string Told(const HostCapabilityQuerySink& sink)
{
    const std::optional<QueryOutcome> outcome = sink.WaitForOutcome(kPatience);
    if (!outcome)
        return "none";
    if (outcome->kind == QueryOutcome::Kind::Completed)
        return "completed";
    return "failed " + std::to_string(outcome->code) + ": " + outcome->message.value_or("");
}

// What the scripted camera properties do when asked.
struct Script
{
    bool found = true;
    std::uint32_t code = 3;
    std::string errorText;
    bool saves = true;
    bool throws = false;
    // Blocks in a platform wait: until aborted, or (ignoring the abort) until the thread is terminated.
    bool blocksUntilAborted = false;
    bool hangs = false;

    static Script Fails(std::uint32_t code, std::string text = {})
    {
        Script script;
        script.found = false;
        script.code = code;
        script.errorText = std::move(text);
        return script;
    }
    template <typename Change> static Script With(Change change)
    {
        Script script;
        change(script);
        return script;
    }
};

class ScriptedProperties : public CBaseCameraProperties
{
public:
    ScriptedProperties(const DEVICE_INFO& device, Script script)
        : CBaseCameraProperties(device, 0), m_script(std::move(script))
    {
        if (!m_script.saves)
            return;
        DeviceCapabilities capabilities;
        ResolutionCapability d1{"d1", 720, 480, 30, {128}, {50}};
        capabilities.streams[0].codecs.push_back({kCapabilityCodecH264, {{"d1", d1}}});
        ApplyCapabilities(capabilities);
    }
    void CancelRequest() override
    {
        if (!m_script.hangs)
            m_cancelled.Set();
    }
    bool ReportDeviceDetails(ipcapture::IIPCapabilityResults&) override { return true; }
    bool GetCameraProperties(std::uint32_t& code) override
    {
        if (m_script.blocksUntilAborted || m_script.hangs)
        {
            m_cancelled.Wait(platform::kInfinite);
            m_script.errorText = "Capability search query was aborted";
            return false;
        }
        if (m_script.throws)
            throw std::runtime_error("the properties failed");
        if (!m_script.found)
            code = m_script.code;
        return m_script.found;
    }
    std::string GetLastErrorText() override { return m_script.errorText; }

private:
    Script m_script;
    CManualEvent m_cancelled;
};

class ScriptedModule : public CCapabilityQueryModule
{
public:
    ScriptedModule(ipcapture::IIPCapabilityQuerySink* sink, Script script, bool noProperties = false)
        : CCapabilityQueryModule(sink, true), m_script(std::move(script)), m_noProperties(noProperties)
    {
    }
    ~ScriptedModule() override { StopQuery(); }
    CBaseCameraProperties* CreateCameraProperties() override
    {
        EXPECT_EQ(GetDeviceInfo().requestTimeoutMs, 10000u);
        EXPECT_EQ(GetDeviceInfo().signalTimeoutMs, 10000u);
        return m_noProperties ? nullptr : new ScriptedProperties(GetDeviceInfo(), m_script);
    }

private:
    Script m_script;
    bool m_noProperties;
};

// The host kit's sink and container, sharing one misuse monitor that fails the test where a misuse happens.
class CapabilityQueryModuleTest : public ::testing::Test
{
protected:
    CapabilityQueryModuleTest()
    {
        m_misuse->SetMisuseHandler([](const std::string& text) { ADD_FAILURE() << "host object misuse: " << text; });
    }

    std::shared_ptr<hostkit::MisuseMonitor> m_misuse = std::make_shared<hostkit::MisuseMonitor>();
    HostCapabilityQuerySink sink{m_misuse};
    HostCapabilityResults results{m_misuse};
};

TEST(CapabilityQueryModule, OutcomesReachTheSinkAsCodesAndMessages)
{
    struct Case
    {
        const char* what;
        Script script;
        const char* address;
        std::string expected; // "completed" or "failed <code>: <message>"
    };
    const std::string failed = "Failed to get camera properties";
    const Case cases[] = {
        {"success", {}, "10.0.0.5", "completed"},
        {"save fails", Script::With([](Script& s) { s.saves = false; }), "10.0.0.5",
         "failed 3: Failed to save capability query results"},
        {"login, no text", Script::Fails(1), "cam.local",
         "failed 1: " + failed + ", login failed (invalid credentials)"},
        {"login, text", Script::Fails(1, "401"), "10.0.0.5", "failed 1: " + failed + ": 401"},
        {"offline", Script::Fails(2, "unused"), "10.0.0.5",
         "failed 2: " + failed + ", device is offline or is located in unaccessible subnet"},
        {"not this family", Script::Fails(0, "404"), "10.0.0.5", "failed 0: " + failed},
        {"other", Script::Fails(3, "500"), "10.0.0.5", "failed 3: " + failed + ": 500"},
        {"other, no text", Script::Fails(3), "10.0.0.5", "failed 3: " + failed},
        {"exception", Script::With([](Script& s) { s.throws = true; }), "10.0.0.5",
         "failed 3: Failed to start capability fetching thread. Internal error occurs"},
        {"port suffix",
         {},
         "10.0.0.5:80",
         "failed 0: Failed to start capability fetching thread. Device address is invalid!"},
        {"credentials in the address",
         {},
         "admin@10.0.0.5",
         "failed 0: Failed to start capability fetching thread. Device address is invalid!"},
    };
    for (const Case& c : cases)
    {
        HostCapabilityQuerySink sink;
        HostCapabilityResults results;
        {
            ScriptedModule module(&sink, c.script);
            ASSERT_EQ(module.Start(c.address, 80, "admin", "", &results), 1) << c.what;
            EXPECT_EQ(Told(sink), c.expected) << c.what;
        }
        EXPECT_EQ(sink.Outcomes().size(), 1u) << c.what;
        EXPECT_TRUE(sink.Misuse().Misuses().empty()) << c.what;
    }
}

TEST_F(CapabilityQueryModuleTest, AQueryWithoutAContainerFailsAsAnInternalError)
{
    ScriptedModule module(&sink, {});
    ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "secret", nullptr), 1);
    EXPECT_EQ(Told(sink), "failed 3: Failed to start capability fetching thread. Internal error occurs");
}

TEST_F(CapabilityQueryModuleTest, StartRefusesWhatCannotRunAndRunsOneQueryInItsLife)
{
    {
        ScriptedModule module(&sink, {});
        EXPECT_EQ(module.Start(nullptr, 80, "admin", "", &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 80, nullptr, "", &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 80, "admin", nullptr, &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 0, "admin", "", &results), 0);
        ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
        EXPECT_EQ(Told(sink), "completed");
        EXPECT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 0) << "a new probe needs a new module";
        module.Terminate(); // after the end: nothing happens
    }
    ScriptedModule noProperties(&sink, {}, true);
    EXPECT_EQ(noProperties.Start("10.0.0.5", 80, "admin", "", &results), 0);
    EXPECT_EQ(sink.Outcomes().size(), 1u);
}

TEST_F(CapabilityQueryModuleTest, TerminateEndsARunningQueryAsAnAbortedFailure)
{
    ScriptedModule module(&sink, Script::With([](Script& s) { s.blocksUntilAborted = true; }));
    module.Terminate(); // before Start: nothing to abort
    ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
    module.Terminate();
    EXPECT_EQ(Told(sink), "failed 3: Failed to get camera properties: Capability search query was aborted");
}

// A query that ignores the abort is ended after the stop wait; the sink hears of that, and of nothing else.
TEST_F(CapabilityQueryModuleTest, AHungQueryIsTerminatedAfterTheStopWait)
{
    {
        ScriptedModule module(&sink, Script::With([](Script& s) { s.hangs = true; }));
        EXPECT_EQ(module.GetStopWait(), 20000u);
        module.SetStopWait(100);
        ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
    }
    EXPECT_EQ(sink.ThreadTerminatedCount(), 1u);
    EXPECT_TRUE(sink.Outcomes().empty());
}

TEST(CapabilityQueryModule, TheHostMayDeleteTheModuleFromInsideItsCallback)
{
    // With the module gone nothing joins the query thread, which may still be returning through the sink
    // when the outcome is seen, and a detached thread's end orders nothing: the sinks are never destroyed.
    static auto* const keptSinks = new std::vector<std::unique_ptr<HostCapabilityQuerySink>>;
    for (const bool succeeds : {true, false})
    {
        HostCapabilityQuerySink& sink = *keptSinks->emplace_back(std::make_unique<HostCapabilityQuerySink>());
        HostCapabilityResults results;
        auto* module = new ScriptedModule(&sink, succeeds ? Script{} : Script::Fails(2));
        sink.SetOutcomeHook([&](const QueryOutcome&) { delete module; });
        ASSERT_EQ(module->Start("10.0.0.5", 80, "admin", "", &results), 1);
        // The outcome is visible only once the callback, and the deletion in it, have returned.
        const std::optional<QueryOutcome> outcome = sink.WaitForOutcome(kPatience);
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->kind, succeeds ? QueryOutcome::Kind::Completed : QueryOutcome::Kind::Failed);
        EXPECT_EQ(sink.ThreadTerminatedCount(), 0u);
        EXPECT_TRUE(sink.Misuse().Misuses().empty());
    }
}

// The family's module reads the simulated camera: its properties object is wired to the device given to Start.
TEST_F(CapabilityQueryModuleTest, TheFamilysModuleSearchesTheSimulatedCamera)
{
    testing::TemporaryHostDirectory hostDirectory;
    testing::CamsimOptions options;
    options.auth = testing::DefaultCameraAuth();
    testing::CamsimPeer camera(options);
    ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
    CVaronCapabilityQueryModule module(&sink, false);
    ASSERT_EQ(module.Start("127.0.0.1", camera.HttpPort(), "admin", "secret", &results), 1);
    EXPECT_EQ(Told(sink), "completed");
    EXPECT_EQ(results.Snapshot().deviceName, "Brantel VC-4220");
    EXPECT_EQ(results.DeviceDetailTexts().at(1), "0");
    EXPECT_EQ(results.Snapshot().connectionItems.at(2).text, std::to_string(camera.HttpPort()));
}
}
}
