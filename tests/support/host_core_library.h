// The host core library whose version the module reads to learn the host's release.
#pragma once

#include <filesystem>
#include <string>

namespace kestrav::testing
{
// Puts a host core library of `version` ("6.3.0.0") into `directory`: on Linux an empty "libvaultex.so.<version>",
// whose name carries the version; on Windows a "vaultex.dll" whose version resource says it.
void InstallHostCoreLibrary(const std::filesystem::path& directory, const std::string& version);
}
