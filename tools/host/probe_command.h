// The probe command: a device search through the module's exports, as a host runs one when an operator
// adds a camera; prints what it found and writes the device details for record --params-file.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "tools/host/command_line.h"
#include "tools/host/console.h"

namespace kestrav::hostbench
{
// Exit status of a search that failed or was cut short; the others are those of summary.h.
constexpr int kExitSearchFailed = 1;

// What the module's failure codes mean to a host.
std::string_view QueryFailureMeaning(std::int32_t code);

// `interrupted` is polled while waiting (Ctrl-C in the program): it cuts the search short.
int RunProbe(const ProbeOptions& options, Console& console, const std::function<bool()>& interrupted);
}
