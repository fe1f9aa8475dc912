// The test process as the kernel sees it (/proc/self): resident memory and thread count, for
// bounds on floods and for the soak's threads-left-behind check. Under Wine the test is a Linux
// process too, and Z: reaches its /proc/self. Test support only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrav::testing
{
inline std::string ProcSelf(const std::string& name)
{
#if defined(_WIN32)
    return "Z:/proc/self/" + name;
#else
    return "/proc/self/" + name;
#endif
}

// A "Name:  value kB" field of /proc/self/status in bytes, or its plain count; 0 when missing.
inline std::uint64_t ProcessStatusField(const std::string& name)
{
    std::ifstream status(ProcSelf("status"));
    std::string line;
    while (std::getline(status, line))
    {
        if (line.rfind(name + ":", 0) != 0)
            continue;
        const std::uint64_t value = std::stoull(line.substr(name.size() + 1));
        return line.find(" kB") != std::string::npos ? value * 1024 : value;
    }
    return 0;
}

inline std::uint64_t ResidentBytes()
{
    return ProcessStatusField("VmRSS");
}

// The highest resident size since the last ResetPeakResident (or since the start).
inline std::uint64_t PeakResidentBytes()
{
    return ProcessStatusField("VmHWM");
}

// "5" to clear_refs sets the peak back to the current resident size (Linux 4.0 on).
inline void ResetPeakResident()
{
    std::ofstream(ProcSelf("clear_refs")) << "5";
}

inline std::size_t ThreadCount()
{
    const std::filesystem::directory_iterator tasks(ProcSelf("task"));
    return static_cast<std::size_t>(std::distance(tasks, std::filesystem::directory_iterator()));
}

// Built with AddressSanitizer or ThreadSanitizer: everything runs several times slower, and freed memory
// sits in quarantine while every byte has a shadow, so resident sizes say little.
inline constexpr bool kUnderSanitizer =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif
inline constexpr bool kResidentSizeIsMeaningful = !kUnderSanitizer;
}
