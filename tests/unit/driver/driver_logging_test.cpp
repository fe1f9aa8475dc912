#include <gtest/gtest.h>

#include <memory>

#include "driver/varon_capture_driver.h"
#include "support/host_fixture.h"

namespace kestrav
{
namespace
{
constexpr const char* kOpenedLine =
    "DRIVER IS OPENED (name: BrantelIPCapture, device model: X1, FW: 2.0, address: 10.0.0.5:80)";

class DriverLogging : public testing::HostFixture
{
protected:
    DriverLogging()
    {
        kit.Model().SetModelName("X1");
        kit.Connection().SetAddress("10.0.0.5");
        kit.Connection().SetPort(80);
        kit.Params().SetExtraParam(1, "0");
        kit.Params().SetExtraParam(2, "2.0");
    }

    // A driver built now sees the host core installed so far.
    std::unique_ptr<CVaronIPCaptureDriver> OpenDriver()
    {
        auto driver = std::make_unique<CVaronIPCaptureDriver>();
        EXPECT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        return driver;
    }

    std::vector<hostkit::DebugRecord> Records() { return kit.Debug().Records(); }
};

TEST_F(DriverLogging, OpenWritesTheOpenedLineOnce)
{
    auto driver = OpenDriver();
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, kOpenedLine);
}

TEST_F(DriverLogging, TheOpenedLineLeavesOutAMissingFirmware)
{
    for (const char* firmware : {"(none)", ""})
    {
        kit.Debug().Clear();
        kit.Params().SetExtraParam(2, firmware);
        auto driver = OpenDriver();
        ASSERT_EQ(Records().size(), 1u);
        EXPECT_EQ(Records()[0].text,
                  "DRIVER IS OPENED (name: BrantelIPCapture, device model: X1, address: 10.0.0.5:80)");
    }
}

TEST_F(DriverLogging, AnEmptyModelNameSuppressesTheOpenedLine)
{
    kit.Model().SetModelName("");
    auto driver = OpenDriver();
    EXPECT_TRUE(Records().empty());
}

TEST_F(DriverLogging, TheOpenedLineIsNotUsedAsAFormat)
{
    kit.Model().SetModelName("X%s%n");
    auto driver = OpenDriver();
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_NE(Records()[0].text.find("device model: X%s%n,"), std::string::npos);
}

struct LevelCase
{
    const char* hostCore; // nullptr: no host core library found
    unsigned level;
    unsigned expected;
};

class LevelTranslation : public DriverLogging, public ::testing::WithParamInterface<LevelCase>
{
};

TEST_P(LevelTranslation, FollowsTheHostCoreVersion)
{
    const LevelCase& c = GetParam();
    if (c.hostCore != nullptr)
        hostDirectory.InstallHostCore(c.hostCore);
    auto driver = OpenDriver();
    kit.Debug().Clear();
    driver->SendDebugMessage(c.level, "%s: line at level %u", "kestrav::Test::Method", c.level);
    const auto records = Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, c.expected);
    EXPECT_EQ(records[0].text, "kestrav::Test::Method: line at level " + std::to_string(c.level));
}

INSTANTIATE_TEST_SUITE_P(HostVersions, LevelTranslation,
                         ::testing::Values(LevelCase{nullptr, 3, 3}, LevelCase{nullptr, 100, 3},
                                           LevelCase{"5.11.9.9", 3, 2}, LevelCase{"5.11.9.9", 100, 2},
                                           LevelCase{"5.11.9.9", 1, 1}, LevelCase{"5.11.9.9", 2, 2},
                                           LevelCase{"5.12.0.0", 3, 3}, LevelCase{"5.12.0.0", 100, 3},
                                           LevelCase{"6.2.9.9", 100, 3}, LevelCase{"6.3.0.0", 100, 100},
                                           LevelCase{"6.3.0.0", 3, 3}, LevelCase{"7.0.0.0", 1, 1},
                                           LevelCase{"6.3.0.0", 1, 1}));

TEST_F(DriverLogging, TheOpenedLineArrivesAtTheTranslatedLevel)
{
    struct
    {
        const char* hostCore;
        unsigned expected;
    } cases[] = {{"5.11.0.0", 2}, {"6.2.9.9", 3}, {"6.3.0.0", 100}};
    for (const auto& c : cases)
    {
        testing::TemporaryHostDirectory directory;
        directory.InstallHostCore(c.hostCore);
        kit.Debug().Clear();
        auto driver = OpenDriver();
        const auto records = Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, c.expected) << "host core " << c.hostCore;
        EXPECT_EQ(records[0].text, kOpenedLine);
    }
}

TEST_F(DriverLogging, DebugLinesEmptyLinesAndLinesWithoutASinkAreDropped)
{
    hostDirectory.InstallHostCore("6.3.0.0");
    auto driver = OpenDriver();
    kit.Debug().Clear();
    driver->SendDebugMessage(kLogDebug, "%s: detail", "kestrav::Test::Method");
    driver->SendDebugMessage(kLogError, "%s", "");
    EXPECT_TRUE(Records().empty());

    CVaronIPCaptureDriver unopened;
    unopened.SendDebugMessage(kLogError, "%s: nobody listens", "kestrav::Test::Method");
}

TEST_F(DriverLogging, AThrowingHostSinkDoesNotReachTheCaller)
{
    class ThrowingSink : public ipcapture::IIPDebugOutput
    {
    public:
        void WriteDebugInfo(const CDebugInfoIf*) override { throw 42; }
    } sink;
    CVaronIPCaptureDriver driver;
    ASSERT_TRUE(driver.Open(&sink, &kit.Allocator(), &kit.Params()));
    EXPECT_NO_THROW(driver.SendDebugMessage(kLogError, "%s: still fine", "kestrav::Test::Method"));
}
}
}
