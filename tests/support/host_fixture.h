// A host for driver tests: the host kit, a temporary host directory, and misuse reported
// as test failures.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "host_core_library.h"
#include "hostkit/host_kit.h"
#include "platform/process.h"

namespace kestrav::testing
{
// A temporary directory that plays the host executable's directory for as long as it lives.
class TemporaryHostDirectory
{
public:
    TemporaryHostDirectory()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() / ("brantel-host-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
        platform::SetHostExecutablePathForTesting((m_path / "recorder").string());
    }
    ~TemporaryHostDirectory()
    {
        platform::SetHostExecutablePathForTesting(std::nullopt);
        std::filesystem::remove_all(m_path);
    }
    TemporaryHostDirectory(const TemporaryHostDirectory&) = delete;
    TemporaryHostDirectory& operator=(const TemporaryHostDirectory&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The directory as the driver reports it, with its trailing separator.
    std::string Text() const { return m_path.string() + platform::kPathSeparator; }

    // Installs a host core library of the given version beside the "executable".
    void InstallHostCore(const std::string& version) const { InstallHostCoreLibrary(m_path, version); }

private:
    std::filesystem::path m_path;
};

class HostFixture : public ::testing::Test
{
protected:
    HostFixture()
    {
        kit.SetMisuseHandler([](const std::string& misuse) { ADD_FAILURE() << "host object misuse: " << misuse; });
    }

    TemporaryHostDirectory hostDirectory;
    hostkit::HostKit kit;
};
}
