#include "runtime/host_directory.h"

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
    const auto separator = executablePath.rfind(platform::kPathSeparator);
    if (separator == std::string::npos)
        return executablePath;
    return executablePath.substr(0, separator + 1);
}

std::string HostDirectory()
{
    return HostDirectoryOf(platform::HostExecutablePath());
}
}
