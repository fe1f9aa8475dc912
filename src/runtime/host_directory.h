// The host executable's directory, where the configuration and preset files live.
#pragma once

#include <string>

namespace kestrav
{
// The executable's path up to and including its last separator; the whole path when it has
// none; empty when the path does not fit the 512-byte buffer of the host API.
std::string HostDirectoryOf(const std::string& executablePath);

// HostDirectoryOf the running host's executable.
std::string HostDirectory();
}
