// The bench's operating-system calls on Windows; the same declarations as on Linux (posix_system.h).
#include <windows.h>
// psapi.h and tlhelp32.h need windows.h first.
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <vector>

#include "tools/host/posix_system.h"

namespace kestrav::hostbench::posix
{
namespace
{
// Lock-free, so the console handler's thread may set it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    // The first Ctrl-C asks for a stop; a second one finds the flag set and gets the default action, which ends
    // a stop that hangs, as SA_RESETHAND does on Linux.
    return interrupted.exchange(true) ? FALSE : TRUE;
}

std::string LoaderError(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof(text), nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return "error " + std::to_string(code) + (reason.empty() ? std::string() : ": " + reason);
}

double Seconds(const FILETIME& time)
{
    // FILETIME counts 100 ns units.
    const ULONGLONG units = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(units) / 1e7;
}

// The process's threads, counted in a system-wide snapshot (Windows keeps no per-process count); 0 when the
// snapshot fails.
unsigned ProcessThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD self = GetCurrentProcessId();
    unsigned threads = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more != 0; more = Thread32Next(snapshot, &entry))
    {
        if (entry.th32OwnerProcessID == self)
            ++threads;
    }
    CloseHandle(snapshot);
    return threads;
}
}

bool SharedLibrary::Load(const std::filesystem::path& path, std::string& error)
{
    // The full path and the altered search order: the module's own dependencies are looked for beside it
    // first, as a host loading it from its install folder gets them.
    HMODULE module = LoadLibraryExW(path.wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr)
        error = LoaderError(GetLastError());
    handle_ = module;
    return module != nullptr;
}

void* SharedLibrary::Symbol(const char* name, std::string& error) const
{
    if (handle_ == nullptr)
    {
        error = "no library loaded";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (symbol == nullptr)
        error = std::string("no export ") + name + ": " + LoaderError(GetLastError()); // Windows' text names none
    return reinterpret_cast<void*>(symbol);
}

void InstallInterruptHandler()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool InterruptRequested()
{
    return interrupted.load();
}

bool StdoutIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::filesystem::path ExecutablePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;)
    {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::filesystem::path(std::wstring(buffer.data(), length));
        // Truncated: a longer path than MAX_PATH.
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

CpuTimes ProcessCpuTimes()
{
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    if (GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user) == 0)
        return {};
    return {Seconds(user), Seconds(kernel)};
}

std::string ProcessStatusText()
{
    // The fields of /proc/self/status that the summary reads, from the process's memory counters.
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)) == 0)
        return {};
    std::string text = "VmHWM:\t" + std::to_string(counters.PeakWorkingSetSize / 1024) + " kB\n" + "VmRSS:\t" +
                       std::to_string(counters.WorkingSetSize / 1024) + " kB\n";
    const unsigned threads = ProcessThreadCount();
    if (threads != 0)
        text += "Threads:\t" + std::to_string(threads) + "\n";
    return text;
}
}
