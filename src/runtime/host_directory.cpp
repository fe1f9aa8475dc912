#include "runtime/host_directory.h"

#include <algorithm>

#include "platform/process.h"

namespace kestrav
{
namespace
{
// The host API reads the executable's path into 512 bytes.
constexpr std::size_t kMaximumExecutablePath = 511;
}

std::string HostDirectoryOf(const std::string& executablePath)
{
    if (executablePath.size() > kMaximumExecutablePath)
        return {};
    const auto separator = std::find_if(executablePath.rbegin(), executablePath.rend(), platform::IsPathSeparator);
    if (separator == executablePath.rend())
        return executablePath;
    return std::string(executablePath.begin(), separator.base());
}

std::string HostDirectory()
{
    return HostDirectoryOf(platform::HostExecutablePath());
}
}
