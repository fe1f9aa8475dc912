#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "http/capability_query_module.h"
#include "http/varon_capability_query_module.h"
#include "platform/wait.h"
#include "runtime/event.h"
#include "support/camsim_peer.h"
#include "support/host_fixture.h"
#include "unit/camera_properties/recording_results.h"

namespace kestrav
{
namespace
{
// What the host's sink was told, with a wait for the end of a query.
class RecordingSink : public ipcapture::IIPCapabilityQuerySink
{
public:
    void ReservedSlot1() override {}
    void OnQueryCompleted() override { Record("completed", -1, ""); }
    void OnQueryFailed(std::int32_t code, const char* message) override { Record("failed", code, message); }
    void OnQueryThreadTerminated() override { Record("terminated", -1, ""); }

    // The first callback; empty when none came within the test's patience.
    std::string WaitForCall()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return !calls.empty(); });
        return calls.empty() ? std::string() : calls.front();
    }
    std::vector<std::string> Calls()
    {
        std::lock_guard lock(m_mutex);
        return calls;
    }

    std::int32_t code = -1;
    std::string message;
    // Runs on the query thread inside the first completion or failure callback.
    std::function<void()> inside;

private:
    void Record(const char* what, std::int32_t givenCode, const char* givenMessage)
    {
        if (inside && std::string(what) != "terminated")
            std::exchange(inside, nullptr)();
        std::lock_guard lock(m_mutex);
        calls.push_back(what);
        if (givenCode >= 0)
        {
            code = givenCode;
            message = givenMessage;
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> calls;
};

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
        RecordingSink sink;
        testing::RecordingResults results;
        {
            ScriptedModule module(&sink, c.script);
            ASSERT_EQ(module.Start(c.address, 80, "admin", "", &results), 1) << c.what;
            const std::string call = sink.WaitForCall();
            EXPECT_EQ(call == "completed" ? call : call + " " + std::to_string(sink.code) + ": " + sink.message,
                      c.expected)
                << c.what;
        }
        EXPECT_EQ(sink.Calls().size(), 1u) << c.what;
    }

    RecordingSink sink;
    ScriptedModule withoutResults(&sink, {});
    ASSERT_EQ(withoutResults.Start("10.0.0.5", 80, "admin", "secret", nullptr), 1);
    EXPECT_EQ(sink.WaitForCall(), "failed");
    EXPECT_EQ(sink.message, "Failed to start capability fetching thread. Internal error occurs");
}

TEST(CapabilityQueryModule, StartRefusesWhatCannotRunAndRunsOneQueryInItsLife)
{
    RecordingSink sink;
    testing::RecordingResults results;
    {
        ScriptedModule module(&sink, {});
        EXPECT_EQ(module.Start(nullptr, 80, "admin", "", &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 80, nullptr, "", &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 80, "admin", nullptr, &results), 0);
        EXPECT_EQ(module.Start("10.0.0.5", 0, "admin", "", &results), 0);
        ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
        EXPECT_EQ(sink.WaitForCall(), "completed");
        EXPECT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 0) << "a new probe needs a new module";
        module.Terminate(); // after the end: nothing happens
    }
    ScriptedModule noProperties(&sink, {}, true);
    EXPECT_EQ(noProperties.Start("10.0.0.5", 80, "admin", "", &results), 0);
    EXPECT_EQ(sink.Calls().size(), 1u);
}

TEST(CapabilityQueryModule, TerminateEndsARunningQueryAsAnAbortedFailure)
{
    RecordingSink sink;
    testing::RecordingResults results;
    ScriptedModule module(&sink, Script::With([](Script& s) { s.blocksUntilAborted = true; }));
    module.Terminate(); // before Start: nothing to abort
    ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
    module.Terminate();
    EXPECT_EQ(sink.WaitForCall(), "failed");
    EXPECT_EQ(sink.code, 3);
    EXPECT_EQ(sink.message, "Failed to get camera properties: Capability search query was aborted");
}

// A query that ignores the abort is ended after the stop wait; the sink hears of it, and of nothing else.
TEST(CapabilityQueryModule, AHungQueryIsTerminatedAfterTheStopWait)
{
    RecordingSink sink;
    testing::RecordingResults results;
    {
        ScriptedModule module(&sink, Script::With([](Script& s) { s.hangs = true; }));
        EXPECT_EQ(module.GetStopWait(), 20000u);
        module.SetStopWait(100);
        ASSERT_EQ(module.Start("10.0.0.5", 80, "admin", "", &results), 1);
    }
    EXPECT_EQ(sink.Calls(), std::vector<std::string>{"terminated"});
}

TEST(CapabilityQueryModule, TheHostMayDeleteTheModuleFromInsideItsCallback)
{
    for (const bool succeeds : {true, false})
    {
        RecordingSink sink;
        testing::RecordingResults results;
        auto* module = new ScriptedModule(&sink, succeeds ? Script{} : Script::Fails(2));
        CManualEvent deleted;
        sink.inside = [&]
        {
            delete module;
            deleted.Set();
        };
        ASSERT_EQ(module->Start("10.0.0.5", 80, "admin", "", &results), 1);
        EXPECT_EQ(sink.WaitForCall(), succeeds ? "completed" : "failed");
        EXPECT_TRUE(deleted.Wait(30000));
        EXPECT_EQ(sink.Calls().size(), 1u);
    }
}

// The family's module reads the simulated camera: its properties object is wired to the device given to Start.
TEST(VaronCapabilityQueryModule, SearchesTheSimulatedCamera)
{
    testing::TemporaryHostDirectory hostDirectory;
    testing::CamsimOptions options;
    options.auth = "digest";
    testing::CamsimPeer camera(options);
    ASSERT_TRUE(camera.IsReady()) << camera.StartFailure();
    RecordingSink sink;
    testing::RecordingResults results;
    CVaronCapabilityQueryModule module(&sink, false);
    ASSERT_EQ(module.Start("127.0.0.1", camera.HttpPort(), "admin", "secret", &results), 1);
    EXPECT_EQ(sink.WaitForCall(), "completed") << sink.message;
    EXPECT_EQ(results.deviceName, "Brantel VC-4220");
    EXPECT_EQ(results.named[1].text, "0");
    EXPECT_EQ(results.connection[2].text, std::to_string(camera.HttpPort()));
}
}
}
