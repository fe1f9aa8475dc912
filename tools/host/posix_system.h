// The operating-system calls of the bench, all in one place: loading the module, Ctrl-C, the
// terminal, the program's own path and what the process uses.
#pragma once

#include <filesystem>
#include <string>

namespace kestrav::hostbench::posix
{
// A loaded shared library. It stays loaded until the process ends: a module thread that a stop
// left running (detached after its grace period) must not find its code unmapped.
class SharedLibrary
{
public:
    // False with the loader's reason when the file cannot be loaded.
    bool Load(const std::filesystem::path& path, std::string& error);
    // Null with the loader's reason when the library has no such symbol.
    void* Symbol(const char* name, std::string& error) const;

private:
    void* handle_ = nullptr;
};

// The first SIGINT or SIGTERM sets the flag and restores the default action, so a second one
// ends a stop that hangs.
void InstallInterruptHandler();
bool InterruptRequested();

bool StdoutIsTerminal();
// The running program's file; empty when it cannot be read.
std::filesystem::path ExecutablePath();

// CPU time of the whole process so far (every thread, the module's included), in seconds.
struct CpuTimes
{
    double user = 0.0;
    double system = 0.0;
};
CpuTimes ProcessCpuTimes();
// The text of /proc/self/status; empty when it cannot be read.
std::string ProcessStatusText();
}
