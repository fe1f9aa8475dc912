// The end of a recording: what each stream delivered and wrote, and the exit status that says it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/process_usage.h"
#include "tools/host/stream_recorder.h"

namespace kestrav::hostbench
{
constexpr int kExitRecorded = 0;
constexpr int kExitNoFrames = 1;
constexpr int kExitFailed = 3;
constexpr int kExitMisuse = 4;

struct RecordingOutcome
{
    std::vector<StreamResult> streams;
    double recordedSeconds = 0.0;
    bool interrupted = false;
    // Faults of the module against the host's objects.
    std::size_t misuses = 0;
    // What the process used; with it the summary ends with the totals of every stream and a process line.
    std::optional<ProcessUsage> usage;
};

std::vector<std::string> FormatSummary(const RecordingOutcome& outcome);

// kExitMisuse when the module misused the host; else kExitNoFrames when a requested stream got no
// frame; else kExitFailed when a file was not written completely; else kExitRecorded.
int ExitStatus(const RecordingOutcome& outcome);
}
