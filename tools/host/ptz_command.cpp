#include "tools/host/ptz_command.h"

#include <array>
#include <chrono>
#include <string>
#include <thread>

#include <brantel/ptz_driver.h>

#include "hostkit/host_kit.h"
#include "tools/host/driver_session.h"
#include "tools/host/module_loader.h"
#include "tools/host/summary.h"

namespace kestrav::hostbench
{
namespace
{
constexpr std::int32_t kDone = 1;
// Room for any preset name a host would show.
constexpr std::size_t kNameBuffer = 256;

std::int32_t Direction(const std::string& word)
{
    static const std::array<const char*, 8> kDirections = {"left",    "right",    "up",        "down",
                                                           "up-left", "up-right", "down-left", "down-right"};
    for (std::size_t index = 0; index < kDirections.size(); ++index)
        if (word == kDirections[index])
            return static_cast<std::int32_t>(index);
    return -1;
}

std::string Describe(std::int32_t code)
{
    return std::to_string(code) + " (" + std::string(PtzResultWord(code)) + ")";
}

int Report(Console& console, const std::string& what, std::int32_t code)
{
    const std::string line = what + ": " + Describe(code);
    if (code == kDone)
    {
        console.Line(line);
        return 0;
    }
    console.Error(line);
    return kExitRefused;
}

int ListPresets(IIPPTZApiEx& control, Console& console)
{
    PTZCapabilityRecord record;
    const std::int32_t capabilities = control.GetCapabilities(&record);
    if (capabilities == kDone)
        console.Line("presets: " + std::to_string(record.presetCount) + " of " + std::to_string(record.maximumPresets));
    std::array<char, kNameBuffer> name{};
    const std::int32_t count = control.GetPresetCount();
    for (std::int32_t index = 0; index < count; ++index)
    {
        const std::int32_t code = control.GetPresetName(index, name.data(), name.size());
        console.Line("  " + std::to_string(index) + ": " + (code == kDone ? std::string(name.data()) : Describe(code)));
    }
    return capabilities == kDone ? 0 : Report(console, "preset list", capabilities);
}

int RunPreset(IIPPTZApiEx& control, const std::vector<std::string>& action, Console& console)
{
    const std::string& verb = action[1];
    if (verb == "list")
        return ListPresets(control, console);
    const std::string what = "preset " + verb + " " + action[2];
    if (verb == "save")
        return Report(console, what, control.SavePreset(action[2].c_str()));
    if (verb == "goto")
        return Report(console, what, control.GotoPreset(0, action[2].c_str()));
    if (verb == "delete")
        return Report(console, what, control.DeletePreset(action[2].c_str()));
    // A save while the camera rests on a preset renames that preset.
    const std::int32_t reached = control.GotoPreset(0, action[2].c_str());
    if (reached != kDone)
        return Report(console, "preset goto " + action[2], reached);
    return Report(console, what + " " + action[3], control.SavePreset(action[3].c_str()));
}

int RunAction(IIPPTZApiEx& control, const PtzOptions& options, Console& console)
{
    const std::vector<std::string>& action = options.action;
    const std::string& word = action[0];
    const std::string what = word + (action.size() > 1 ? " " + action[1] : std::string());
    const std::int32_t speed = options.speed;
    if (word == "preset")
        return RunPreset(control, action, console);
    if (word == "stop")
        return Report(console, what, control.Stop());
    if (word == "move")
        return Report(console, what, control.Move(Direction(action[1]), speed));
    if (word == "zoom")
        return Report(console, what, action[1] == "in" ? control.ZoomPlus(speed) : control.ZoomMinus(speed));
    if (word == "focus")
        return Report(console, what, action[1] == "near" ? control.FocusPlus(speed) : control.FocusMinus(speed));
    return Report(console, what, action[1] == "open" ? control.IrisPlus(speed) : control.IrisMinus(speed));
}

void PrintModuleErrors(hostkit::HostKit& kit, Console& console)
{
    for (const hostkit::DebugRecord& record : kit.Debug().Records())
        if (record.level == 1)
            console.Error("module: " + record.text);
}
}

std::string_view PtzResultWord(std::int32_t code)
{
    switch (code)
    {
    case 1:
        return "done";
    case 0:
        return "no";
    case -3:
        return "invalid argument";
    case -18:
        return "failed";
    case -19:
        return "not supported by the camera";
    case -23:
        return "no such preset, or the camera refused it";
    case -26:
        return "no room for another preset";
    default:
        return "unknown code";
    }
}

int RunPtz(const PtzOptions& options, Console& console)
{
    DriverModule module;
    std::string error;
    if (!module.Load(options.modulePath ? *options.modulePath : DefaultModulePath(), error))
    {
        console.Error("brantel-host: " + error);
        return kExitFailed;
    }
    hostkit::HostKit kit;
    ConfigureHost(kit, options.device, options.channel + 1);
    ipcapture::IIPCaptureDriverEx5* driver = module.CreateDriver();
    int status = kExitFailed;
    if (driver == nullptr)
        console.Error("brantel-host: the module created no driver");
    else if (!driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()))
        console.Error("brantel-host: the driver did not open the device");
    else if (IIPPTZDriverEx* handler = driver->GetPTZDriverEx(); handler == nullptr)
        console.Error("brantel-host: the driver has no PTZ handler");
    else if (IIPPTZApiEx* control = handler->GetPTZApiEx(options.channel); control == nullptr)
        console.Error("brantel-host: no PTZ control for channel " + std::to_string(options.channel));
    else
    {
        status = RunAction(*control, options, console);
        // Movements are only queued: the module's thread sends them while the driver stays open.
        std::this_thread::sleep_for(std::chrono::duration<double>(options.waitSeconds));
    }
    PrintModuleErrors(kit, console);
    if (driver != nullptr)
    {
        driver->Close();
        module.DeleteDriver(driver);
    }
    return status;
}
}
