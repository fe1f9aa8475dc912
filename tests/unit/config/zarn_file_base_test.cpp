#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host_fixture.h"
#include "runtime/zarn_file_base.h"

namespace kestrav
{
namespace
{
// The XML reader counts only an absent file as missing; anything else that stops the opening
// means the file is there.
TEST(ZarnFileBase, TellsAnAbsentFileFromOneItCannotRead)
{
    testing::TemporaryHostDirectory directory;
    const std::string present = (directory.Path() / "present.xml").string();
    std::ofstream(present) << "<a/>";

    CZarnFileBase file;
    EXPECT_EQ(file.Open((directory.Path() / "absent.xml").string()), FileProbeResult::Absent);
    EXPECT_EQ(file.Open((directory.Path() / "present.xml" / "below_a_file").string()), FileProbeResult::Absent);
    EXPECT_EQ(file.Open(""), FileProbeResult::Absent);
    EXPECT_FALSE(file.IsOpened());
    EXPECT_EQ(file.Open(directory.Path().string()), FileProbeResult::Unreadable);
    EXPECT_FALSE(file.IsOpened());

    EXPECT_EQ(file.Open(present), FileProbeResult::Opened);
    EXPECT_TRUE(file.IsOpened());
    EXPECT_EQ(file.GetFileName(), present);
    file.Close();
    EXPECT_FALSE(file.IsOpened());
}
}
}
