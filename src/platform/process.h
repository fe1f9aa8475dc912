// Facts about the host process and the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrav::platform
{
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The separator this module writes is kPathSeparator; a host may give a path with either
// separator on Windows, so both end a directory there.
constexpr bool IsPathSeparator(char character)
{
#if defined(_WIN32)
    return character == '\\' || character == '/';
#else
    return character == '/';
#endif
}

// Full path of the host's executable (the program that started the process, not this
// module); empty when it cannot be read.
std::string HostExecutablePath();

// Test seam: makes HostExecutablePath return `path` until reset with nullopt.
void SetHostExecutablePathForTesting(std::optional<std::string> path);

struct FileVersion
{
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

#if defined(_WIN32)
// Version of the host's core library, or nullopt when it cannot be found. The rule:
// the library "vaultex.dll" already loaded into the process, else found in the host
// executable's directory, else in the system directory, the Windows directory or PATH (the
// loader's search without the current directory); its version is the product version of
// its version resource.
#else
// Version of the host's core library, or nullopt when it cannot be found. The rule:
// the library "libvaultex.so" already loaded into the process, else found in the host
// executable's directory, else in the system library directories; its version is read
// from the real file name ("libvaultex.so.6.3.0.0" is 6.3.0.0; missing fields are 0).
#endif
std::optional<FileVersion> FindHostCoreVersion(const std::string& hostDirectory);

// The version part of a host core library file name, or nullopt when it has none.
std::optional<FileVersion> ParseHostCoreFileName(const std::string& fileName);

std::uint32_t ProcessorCount();

// Random bytes from the operating system; false when none could be read.
bool FillRandomBytes(std::span<std::uint8_t> bytes);
}
