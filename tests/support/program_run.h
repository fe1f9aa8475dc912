// A program of this build (the host bench program) run to its end, as a user runs it from a prompt: on Linux
// with posix_spawn, on Windows (and under Wine) with CreateProcessW, since the program is then a Windows one
// that ChildProcess, which starts Linux peers, cannot start.
// Test support only: it talks to the operating system directly, which product code never does.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrav::testing
{
struct ProgramRun
{
    // The program's exit status; -1 when it could not start, died of a signal or was killed on time-out.
    int status = -1;
    bool timedOut = false;
    // Its stdout and stderr together.
    std::string output;
};

// Runs `arguments[0]` (a path as this program names it) with the arguments, stdin empty, stdout and stderr
// into `outputFile`, and waits at most `timeout` for its end; a program still running then is killed.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::filesystem::path& outputFile,
                      std::chrono::milliseconds timeout);
}
