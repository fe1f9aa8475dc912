#include <dirent.h>
#include <link.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/process.h"

namespace kestrav::platform
{
namespace
{
constexpr const char* kHostCoreLibrary = "libvaultex.so";

std::mutex g_overrideMutex;
std::optional<std::string> g_executableOverride;

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<FileVersion> VersionOfFile(const std::string& path)
{
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        return std::nullopt;
    return ParseHostCoreFileName(BaseName(resolved));
}

bool IsHostCoreName(const std::string& name)
{
    const std::string prefix = std::string(kHostCoreLibrary);
    return name == prefix || name.rfind(prefix + ".", 0) == 0;
}

int CollectLoadedHostCore(dl_phdr_info* info, size_t, void* data)
{
    auto* found = static_cast<std::string*>(data);
    if (info->dlpi_name != nullptr && IsHostCoreName(BaseName(info->dlpi_name)))
    {
        *found = info->dlpi_name;
        return 1;
    }
    return 0;
}

bool IsNewer(const FileVersion& a, const FileVersion& b)
{
    if (a.major != b.major)
        return a.major > b.major;
    if (a.minor != b.minor)
        return a.minor > b.minor;
    if (a.build != b.build)
        return a.build > b.build;
    return a.revision > b.revision;
}

// The development link "libvaultex.so" decides when present; otherwise the newest
// versioned file of the directory.
std::optional<FileVersion> VersionInDirectory(const std::string& directory)
{
    std::string base = directory;
    if (!base.empty() && base.back() != '/')
        base += '/';
    if (auto version = VersionOfFile(base + kHostCoreLibrary))
        return version;

    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr)
        return std::nullopt;
    std::optional<FileVersion> newest;
    while (dirent* entry = readdir(listing))
    {
        const std::string name = entry->d_name;
        if (!IsHostCoreName(name))
            continue;
        auto version = VersionOfFile(base + name);
        if (version && (!newest || IsNewer(*version, *newest)))
            newest = version;
    }
    closedir(listing);
    return newest;
}

std::vector<std::string> SystemLibraryDirectories()
{
    std::vector<std::string> directories = {"/usr/local/lib"};
#if defined(__x86_64__)
    directories.insert(directories.end(), {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu"});
#elif defined(__i386__)
    directories.insert(directories.end(), {"/lib/i386-linux-gnu", "/usr/lib/i386-linux-gnu"});
#elif defined(__aarch64__)
    directories.insert(directories.end(), {"/lib/aarch64-linux-gnu", "/usr/lib/aarch64-linux-gnu"});
#endif
    directories.insert(directories.end(), {"/lib", "/usr/lib"});
    return directories;
}
}

std::string HostExecutablePath()
{
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_executableOverride)
            return *g_executableOverride;
    }
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        return {};
    return std::string(buffer.data(), static_cast<size_t>(length));
}

void SetHostExecutablePathForTesting(std::optional<std::string> path)
{
    std::lock_guard lock(g_overrideMutex);
    g_executableOverride = std::move(path);
}

std::optional<FileVersion> FindHostCoreVersion(const std::string& hostDirectory)
{
    std::string loaded;
    dl_iterate_phdr(CollectLoadedHostCore, &loaded);
    if (!loaded.empty())
    {
        if (auto version = VersionOfFile(loaded))
            return version;
    }
    if (!hostDirectory.empty())
    {
        if (auto version = VersionInDirectory(hostDirectory))
            return version;
    }
    for (const std::string& directory : SystemLibraryDirectories())
    {
        if (auto version = VersionInDirectory(directory))
            return version;
    }
    return std::nullopt;
}

std::uint32_t ProcessorCount()
{
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<std::uint32_t>(count) : 1;
}

bool FillRandomBytes(std::span<std::uint8_t> bytes)
{
    size_t filled = 0;
    while (filled < bytes.size())
    {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        filled += static_cast<size_t>(got);
    }
    return true;
}
}
