#include "tools/host/io_command.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <brantel/capture_io.h>

#include "hostkit/host_kit.h"
#include "tools/host/driver_session.h"
#include "tools/host/module_loader.h"
#include "tools/host/status_line.h"
#include "tools/host/summary.h"
#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
using Clock = std::chrono::steady_clock;

// Without --watch: the output queue sends one request at a time, and a stop drops what still waits.
constexpr std::chrono::seconds kDefaultWatch{2};
constexpr std::chrono::milliseconds kPollInterval{100};

std::string StateName(std::int32_t state)
{
    switch (state)
    {
    case 1:
        return "inactive";
    case 2:
        return "active";
    default:
        return "unknown (" + std::to_string(state) + ")";
    }
}

// Prints what the module reports, from its IO threads.
class ConsoleIOSink final : public IIPIOSink
{
public:
    explicit ConsoleIOSink(Console& console) : console_(console) {}

    void OnInputStateChanged(std::int32_t index, std::int32_t state) override
    {
        console_.Line("input " + std::to_string(index + 1) + ": " + StateName(state));
    }
    void OnIOStatesReset() override { console_.Line("IO states reset: a camera request failed"); }

private:
    Console& console_;
};

int Fail(Console& console, const std::string& message)
{
    console.Error("brantel-host: " + message);
    return kExitFailed;
}
}

int RunIo(const IoOptions& options, Console& console, const std::function<bool()>& interrupted)
{
    DriverModule module;
    std::string error;
    if (!module.Load(options.modulePath.value_or(DefaultModulePath()), error))
        return Fail(console, error);

    // Declared before everything that hands its objects to the module, so it is destroyed last.
    hostkit::HostKit kit;
    ConfigureHost(kit, options.device, 1);
    kit.Model().SetInputCount(options.inputs);
    kit.Model().SetOutputCount(options.outputs);
    kit.Debug().SetEcho([&console](const hostkit::DebugRecord& record)
                        { console.Line(FormatLogLine(record.level, record.text)); });
    kit.SetMisuseHandler([&console](const std::string& misuse) { console.Line("MISUSE: " + misuse); });
    ConsoleIOSink sink(console);

    DriverSession session(module, kit);
    if (!session.Open(error))
        return Fail(console, error);
    ICaptureIOApi* io = session.CaptureIO();
    if (io == nullptr)
        return Fail(console, "the driver has no digital IO");
    io->SetIOCallback(&sink);
    if (!io->StartIO())
        return Fail(console, "the digital IO did not start");
    console.Line("Opened " + options.device.address + ":" + std::to_string(options.device.port) + ": " +
                 std::to_string(io->GetInputCount()) + " input(s), " + std::to_string(io->GetOutputCount()) +
                 " output(s), every relay switched off");

    bool refused = false;
    for (const RelayCommand& relay : options.relays)
    {
        const bool taken = io->SetOutputState(static_cast<std::int32_t>(relay.relay) - 1, relay.on ? 2 : 1);
        refused = refused || !taken;
        console.Line("relay " + std::to_string(relay.relay) + ": " + (relay.on ? "on" : "off") +
                     (taken ? "" : " refused"));
    }

    const auto watch =
        options.watchSeconds
            ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*options.watchSeconds))
            : std::chrono::duration_cast<Clock::duration>(kDefaultWatch);
    const Clock::time_point end = Clock::now() + watch;
    while (!interrupted() && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, end - Clock::now()));

    io->StopIO();
    session.Close();
    if (kit.Misuse().Count() != 0)
        return kExitMisuse;
    return refused ? kExitFailed : kExitRecorded;
}
}
