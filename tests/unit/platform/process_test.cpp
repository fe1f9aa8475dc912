#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/process.h"

namespace kestrav::platform
{
namespace
{
namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed afterwards.
class TemporaryDirectory
{
public:
    TemporaryDirectory()
    {
        std::array<std::uint8_t, 8> random{};
        FillRandomBytes(random);
        std::string name = "brantel-test-";
        for (auto byte : random)
            name += "0123456789abcdef"[byte & 15];
        m_path = fs::temp_directory_path() / name;
        fs::create_directories(m_path);
    }
    ~TemporaryDirectory() { fs::remove_all(m_path); }
    const fs::path& Path() const { return m_path; }
    void Touch(const std::string& name) const { std::ofstream(m_path / name) << "x"; }

private:
    fs::path m_path;
};

TEST(HostExecutable, IsThisProgramUnlessOverridden)
{
    const std::string path = HostExecutablePath();
    EXPECT_EQ(fs::path(path).stem(), "unit_platform"); // unit_platform.exe on Windows

    SetHostExecutablePathForTesting("/opt/host/bin/recorder");
    EXPECT_EQ(HostExecutablePath(), "/opt/host/bin/recorder");
    SetHostExecutablePathForTesting(std::nullopt);
    EXPECT_EQ(HostExecutablePath(), path);
}

TEST(HostCoreVersion, IsReadFromTheFileName)
{
    auto version = ParseHostCoreFileName("libvaultex.so.6.3.1.42");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 6);
    EXPECT_EQ(version->minor, 3);
    EXPECT_EQ(version->build, 1);
    EXPECT_EQ(version->revision, 42);

    version = ParseHostCoreFileName("libvaultex.so.5");
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 5);
    EXPECT_EQ(version->minor, 0);

    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so"));
    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so."));
    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so.6..1"));
    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so.6.x"));
    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so.1.2.3.4.5"));
    EXPECT_FALSE(ParseHostCoreFileName("libvaultex.so.70000"));
    EXPECT_FALSE(ParseHostCoreFileName("libother.so.6.3.0.0"));
}

#if !defined(_WIN32)
// The version is in the file name of a shared object; on Windows it is the DLL's version resource.
TEST(HostCoreVersion, IsFoundBesideTheHostExecutable)
{
    TemporaryDirectory directory;
    const std::string hostDirectory = directory.Path().string() + "/";
    // This machine has no host installed: nothing is found.
    EXPECT_FALSE(FindHostCoreVersion(hostDirectory));

    directory.Touch("libvaultex.so.5.11.0.0");
    directory.Touch("libvaultex.so.6.3.0.0");
    auto version = FindHostCoreVersion(hostDirectory);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 6) << "the newest file decides without a link";
    EXPECT_EQ(version->minor, 3);

    fs::create_symlink("libvaultex.so.5.11.0.0", directory.Path() / "libvaultex.so");
    version = FindHostCoreVersion(hostDirectory);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major, 5) << "the development link decides when present";
    EXPECT_EQ(version->minor, 11);
}
#else
TEST(HostCoreVersion, IsTheVersionResourceOfTheDllBesideTheHostExecutable)
{
    TemporaryDirectory directory;
    const std::string hostDirectory = directory.Path().string();
    // This machine has no host installed: nothing is found.
    EXPECT_FALSE(FindHostCoreVersion(hostDirectory));

    directory.Touch("vaultex.dll");
    EXPECT_FALSE(FindHostCoreVersion(hostDirectory)) << "a file without a version resource has no version";

    // Any DLL with a version resource stands in for the host's.
    const char* systemRoot = std::getenv("SystemRoot");
    ASSERT_NE(systemRoot, nullptr);
    fs::remove(directory.Path() / "vaultex.dll");
    fs::copy_file(fs::path(systemRoot) / "System32" / "kernel32.dll", directory.Path() / "vaultex.dll");
    const auto version = FindHostCoreVersion(hostDirectory);
    ASSERT_TRUE(version);
    EXPECT_GT(version->major, 0);
}
#endif

TEST(Machine, HasProcessorsAndRandomBytes)
{
    EXPECT_GE(ProcessorCount(), 1u);
    std::array<std::uint8_t, 32> first{};
    std::array<std::uint8_t, 32> second{};
    ASSERT_TRUE(FillRandomBytes(first));
    ASSERT_TRUE(FillRandomBytes(second));
    EXPECT_NE(first, second);
}
}
}
