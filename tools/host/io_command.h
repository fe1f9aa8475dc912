// brantel-host io: switches a camera's relays and prints its alarm input's changes, as a host does through
// the driver's digital IO.
#pragma once

#include <functional>

#include "tools/host/command_line.h"
#include "tools/host/console.h"

namespace kestrav::hostbench
{
// The exit status (see UsageText). `interrupted` is polled while watching.
int RunIo(const IoOptions& options, Console& console, const std::function<bool()>& interrupted);
}
