// The file calls on names the module builds from camera and host data: UTF-8 throughout (Windows
// takes them as UTF-16), a replacement that is all or nothing, and a move that never overwrites.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/files.h"
#include "platform/net.h"
#include "platform/process.h"
#include "platform/sockets.h"

namespace kestrav::platform
{
namespace
{
namespace fs = std::filesystem;

fs::path Utf8(const std::string& name)
{
    return fs::path(std::u8string(name.begin(), name.end()));
}

class Files : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::array<std::uint8_t, 8> random{};
        ASSERT_TRUE(FillRandomBytes(random));
        std::string name = "brantel-files-";
        for (auto byte : random)
            name += "0123456789abcdef"[byte & 15];
        m_directory = fs::temp_directory_path() / name;
        fs::create_directories(m_directory);
    }
    void TearDown() override { fs::remove_all(m_directory); }

    // The UTF-8 path of `name` in the test's directory.
    std::string Path(const std::string& name) const
    {
        const std::u8string path = (m_directory / Utf8(name)).u8string();
        return std::string(path.begin(), path.end());
    }
    std::string Contents(const std::string& name) const
    {
        std::ifstream file(m_directory / Utf8(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    fs::path m_directory;
};

TEST_F(Files, ReplacementIsWholeAndLeavesNoTemporaryFile)
{
    // A camera's name, as presets are named, beyond ASCII.
    const std::string name = "Kamera \xC3\xBC\x62\x65r Tor \xE2\x84\x96"
                             "1.preset";
    ASSERT_TRUE(ReplaceFileContents(Path(name), "first"));
    ASSERT_TRUE(ReplaceFileContents(Path(name), std::string("sec\0ond", 7)));
    EXPECT_TRUE(FileExists(Path(name)));
    EXPECT_EQ(Contents(name), std::string("sec\0ond", 7));
    EXPECT_FALSE(FileExists(Path(name) + kReplacementSuffix));

    EXPECT_FALSE(ReplaceFileContents(Path("missing/dir.preset"), "x"));
    EXPECT_FALSE(FileExists(Path("missing/dir.preset") + kReplacementSuffix));
    EXPECT_FALSE(ReplaceFileContents("", "x"));
}

TEST_F(Files, AMoveAsideNeverOverwrites)
{
    ASSERT_TRUE(ReplaceFileContents(Path("a.xml"), "a"));
    ASSERT_TRUE(ReplaceFileContents(Path("b.xml"), "b"));
    EXPECT_FALSE(MoveFileAside(Path("a.xml"), Path("b.xml")));
    EXPECT_EQ(Contents("b.xml"), "b");
    EXPECT_TRUE(MoveFileAside(Path("a.xml"), Path("a.xml.bad")));
    EXPECT_FALSE(FileExists(Path("a.xml")));
    EXPECT_EQ(Contents("a.xml.bad"), "a");
}

TEST(Resolver, TakesDottedAddressesAndNamesButNoCutShortNames)
{
    ASSERT_TRUE(StartSockets());
    const std::uint32_t loopback = ResolveHostIPv4("127.0.0.1");
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&loopback);
    EXPECT_EQ(octets[0], 127);
    EXPECT_EQ(octets[3], 1);
    EXPECT_EQ(ResolveHostIPv4("localhost"), loopback);
    EXPECT_EQ(ResolveHostIPv4(std::string("127.0.0.1\0.evil", 15)), 0u);
    EXPECT_EQ(ResolveHostIPv4(""), 0u);
    CleanupSockets();
}
}
}
