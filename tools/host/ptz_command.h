// The ptz command: open one device, run one PTZ action on a channel, print its result code.
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/host/command_line.h"
#include "tools/host/console.h"

namespace kestrav::hostbench
{
// Exit status of a PTZ action the module refused.
constexpr int kExitRefused = 1;

// The word printed beside a PTZ result code.
std::string_view PtzResultWord(std::int32_t code);

// 0 done, kExitRefused, or kExitFailed when there is no module, device or PTZ control.
int RunPtz(const PtzOptions& options, Console& console);
}
