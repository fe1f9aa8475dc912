#include "tools/host/probe_command.h"

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "hostkit/host_capability_query_sink.h"
#include "hostkit/host_capability_results.h"
#include "hostkit/misuse_monitor.h"
#include "tools/host/capability_table.h"
#include "tools/host/module_loader.h"
#include "tools/host/summary.h"
#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
using Clock = std::chrono::steady_clock;

// Often enough that Ctrl-C feels immediate.
constexpr std::chrono::milliseconds kPollInterval{100};
constexpr std::chrono::seconds kStatusInterval{1};
// After Terminate the module ends a search promptly; this is how long a host gives it to say so.
constexpr std::chrono::seconds kTerminateGrace{5};

int Fail(Console& console, const std::string& message)
{
    console.Error("brantel-host: " + message);
    return kExitFailed;
}

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// Waits for the outcome with a status line; cuts the search short at the time-out or an interrupt.
std::optional<hostkit::QueryOutcome> WaitForOutcome(const ProbeOptions& options, ipcapture::IIPCapabilityQuery& query,
                                                    const hostkit::HostCapabilityQuerySink& sink, Console& console,
                                                    const std::function<bool()>& interrupted)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeoutSeconds));
    std::optional<Clock::time_point> terminatedAt;
    Clock::time_point nextStatus = start + kStatusInterval;
    for (;;)
    {
        std::optional<hostkit::QueryOutcome> outcome = sink.WaitForOutcome(kPollInterval);
        const Clock::time_point now = Clock::now();
        if (outcome)
        {
            console.Status({"the search ended after " + Fixed(Seconds(now - start), 1) + " s"});
            console.EndStatus();
            return outcome;
        }
        if (!terminatedAt && (interrupted() || now >= deadline))
        {
            terminatedAt = now;
            console.Status({interrupted() ? "interrupted: ending the search"
                                          : "no answer within the time-out: ending "
                                            "the search"});
            query.Terminate();
        }
        if (terminatedAt && now >= *terminatedAt + kTerminateGrace)
        {
            console.EndStatus();
            return std::nullopt;
        }
        if (now >= nextStatus)
        {
            const std::string waited = std::to_string(static_cast<int>(Seconds(now - start))) + " s";
            if (terminatedAt)
                console.Status({"ending the search... " + waited});
            else
                console.Status({"waiting for the camera... " + waited +
                                (console.GetMode() == Console::Mode::Terminal ? " (Ctrl-C ends the search)" : "")});
            nextStatus += kStatusInterval;
        }
    }
}

bool WriteParamsFile(const ProbeOptions& options, const hostkit::HostCapabilityResults& results,
                     const std::string& name, std::string& error)
{
    std::map<int, std::string> params;
    for (const auto& [id, text] : results.DeviceDetailTexts())
        params.emplace(id, text);
    const std::string device = options.address + ":" + std::to_string(options.port);
    const std::string text =
        FormatParamsText(params, {"Device details of " + name + " at " + device + ", written by brantel-host probe:",
                                  "1 video standard, 2 firmware, 3 MAC address, 4 RTSP port, 5 stream capabilities, "
                                  "6 PTZ features.",
                                  "Read by: brantel-host record --params-file FILE"});
    std::ofstream output(options.paramsFile, std::ios::binary | std::ios::trunc);
    output << text;
    output.close();
    if (!output)
    {
        error = "cannot write the params file " + options.paramsFile.string();
        return false;
    }
    return true;
}
}

std::string_view QueryFailureMeaning(std::int32_t code)
{
    switch (code)
    {
    case 0:
        return "not a usable address, or not a camera of this family";
    case 1:
        return "login failed";
    case 2:
        return "camera offline or unreachable";
    default:
        return "search failed";
    }
}

int RunProbe(const ProbeOptions& options, Console& console, const std::function<bool()>& interrupted)
{
    DriverModule module;
    std::string error;
    const std::filesystem::path modulePath = options.modulePath.value_or(DefaultModulePath());
    if (!module.Load(modulePath, error) || !module.HasCapabilityQuery(error))
        return Fail(console, error);

    // The host's objects outlive the query, which is deleted before them.
    auto misuse = std::make_shared<hostkit::MisuseMonitor>();
    misuse->SetMisuseHandler([&console](const std::string& text) { console.Line("MISUSE: " + text); });
    hostkit::HostCapabilityResults results(misuse);
    hostkit::HostCapabilityQuerySink sink(misuse);
    sink.SealAtOutcome(&results);
    const auto deleteQuery = [&module](ipcapture::IIPCapabilityQuery* query) { module.DeleteCapabilityQuery(query); };
    std::unique_ptr<ipcapture::IIPCapabilityQuery, decltype(deleteQuery)> query(
        module.CreateCapabilityQuery(&sink, options.videoStandard30), deleteQuery);
    if (!query)
        return Fail(console, "the module could not create a device search");

    const std::string device = options.address + ":" + std::to_string(options.port);
    console.Line("Searching " + device + " with " + module.Path().string());
    if (query->Start(options.address.c_str(), options.port, options.user.c_str(), options.password.c_str(), &results) !=
        1)
        return Fail(console, "the module did not start the device search");

    const std::optional<hostkit::QueryOutcome> outcome = WaitForOutcome(options, *query, sink, console, interrupted);
    if (!outcome)
        console.Line("The module has not ended the search; deleting it (the module waits for its thread)");
    query.reset();
    if (sink.ThreadTerminatedCount() != 0)
        console.Line("The module killed its query thread, which did not end in time");

    int status = kExitRecorded;
    if (!outcome)
    {
        console.Error("brantel-host: the device search of " + device + " gave no answer");
        status = kExitSearchFailed;
    }
    else if (outcome->kind == hostkit::QueryOutcome::Kind::Failed)
    {
        console.Error("brantel-host: the device search of " + device + " failed with code " +
                      std::to_string(outcome->code) + " (" + std::string(QueryFailureMeaning(outcome->code)) +
                      "): " + outcome->message.value_or("(no message)"));
        status = kExitSearchFailed;
    }
    else
    {
        const hostkit::CapabilitySnapshot found = results.Snapshot();
        for (const std::string& line : FormatCapabilityTable(device, found))
            console.Line(line);
        if (!WriteParamsFile(options, results, found.deviceName.value_or("the camera"), error))
            return Fail(console, error);
        console.Line("Device details written to " + options.paramsFile.string() +
                     " (brantel-host record --params-file " + options.paramsFile.string() + " ...)");
        if (results.DeviceDetailTexts().size() != 6)
            console.Line("The module wrote " + std::to_string(results.DeviceDetailTexts().size()) +
                         " of the six device details");
    }
    return misuse->Count() != 0 ? kExitMisuse : status;
}
}
