#include "tools/host/posix_system.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

namespace kestrav::hostbench::posix
{
namespace
{
// Lock-free, so the handler may set it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int)
{
    interrupted.store(true);
}

std::string LoaderError()
{
    const char* reason = dlerror();
    return reason != nullptr ? reason : "unknown loader error";
}
}

bool SharedLibrary::Load(const std::filesystem::path& path, std::string& error)
{
    dlerror();
    // RTLD_NOW: a module with an unresolved symbol fails here, not in the middle of a recording.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        error = LoaderError();
    return handle_ != nullptr;
}

void* SharedLibrary::Symbol(const char* name, std::string& error) const
{
    if (handle_ == nullptr)
    {
        error = "no library loaded";
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr)
        error = LoaderError();
    return symbol;
}

void InstallInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool InterruptRequested()
{
    return interrupted.load();
}

bool StdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

std::filesystem::path ExecutablePath()
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : path;
}

namespace
{
double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}
}

CpuTimes ProcessCpuTimes()
{
    rusage usage = {};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return {};
    return {Seconds(usage.ru_utime), Seconds(usage.ru_stime)};
}

std::string ProcessStatusText()
{
    std::ifstream input("/proc/self/status");
    return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}
}
