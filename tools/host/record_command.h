// The record command: open one device, record its streams for a while, summarize.
#pragma once

#include <functional>

#include "tools/host/command_line.h"
#include "tools/host/console.h"

namespace kestrav::hostbench
{
// `interrupted` is polled while recording (Ctrl-C in the program); the result is the exit status
// of summary.h, or kExitFailed when nothing could be recorded at all (module, device or output).
int RunRecord(const RecordOptions& options, Console& console, const std::function<bool()>& interrupted);
}
