#include <gtest/gtest.h>

#include <climits>

#include "driver/varon_capture_driver.h"
#include "runtime/host_directory.h"
#include "support/host_fixture.h"

namespace kestrav
{
namespace
{
class DriverOpen : public testing::HostFixture
{
protected:
    bool Open() { return driver.Open(&kit.Debug(), &kit.Allocator(), &kit.Params()); }

    CVaronIPCaptureDriver driver;
};

TEST_F(DriverOpen, ReadsTheHostObjectsInOrder)
{
    kit.Params().SetExtraParam(1, "0");
    kit.Params().SetExtraParam(2, "2.0");
    kit.Calls().Clear();
    ASSERT_TRUE(Open());

    std::vector<std::string> reads;
    for (const std::string& call : kit.Calls().Entries())
    {
        // How the driver reaches the model and connection objects is not part of the order.
        if (call != "params.GetDeviceModel" && call != "params.GetConnectionParams")
            reads.push_back(call);
    }
    const std::vector<std::string> expected = {
        "connection.GetDefaultCodec", "model.GetInputCount",     "model.GetOutputCount",
        "model.GetVideoChannelCount", "connection.GetAddress",   "connection.GetPort",
        "connection.GetUserName",     "connection.GetPassword",  "model.GetModelName",
        "params.GetExtraParam(1)",    "params.GetExtraParam(2)", "params.GetExtraParam(3)",
        "model.GetVideoChannelCount",
    };
    EXPECT_EQ(reads, expected);
}

TEST_F(DriverOpen, KeepsTheDeviceDescription)
{
    kit.Connection().SetAddress("cam");
    kit.Connection().SetPort(81);
    kit.Connection().SetUserName("admin");
    kit.Connection().SetPassword("secret");
    kit.Connection().SetDefaultCodec(1);
    kit.Model().SetModelName("X1");
    kit.Model().SetVideoChannelCount(4);
    kit.Model().SetInputCount(2);
    kit.Model().SetOutputCount(1);
    ASSERT_TRUE(Open());

    const DEVICE_INFO* device = driver.GetDeviceInfo();
    EXPECT_EQ(device->address, "cam");
    EXPECT_EQ(device->port, 81);
    EXPECT_EQ(device->userName, "admin");
    EXPECT_EQ(device->password, "secret");
    EXPECT_EQ(device->modelName, "X1");
    EXPECT_EQ(device->requestTimeoutMs, 30000u);
    EXPECT_EQ(device->signalTimeoutMs, 30000u);
    EXPECT_EQ(driver.GetDeviceAddress(), "cam:81");
    EXPECT_EQ(driver.GetDefaultCodec(), 1);
    EXPECT_EQ(driver.GetChannelCount(), 4u);
    EXPECT_EQ(driver.GetIOCounts(), std::make_pair(2u, 1u));
    EXPECT_EQ(driver.GetMediaAllocator(), &kit.Allocator());
    EXPECT_EQ(driver.GetVideoCapture()->GetChannelCount(), 4u);
    EXPECT_EQ(driver.GetCaptureIO()->GetInputCount(), 2);
    EXPECT_EQ(driver.GetCaptureIO()->GetOutputCount(), 1);
    EXPECT_EQ(driver.GetHostDirectory(), hostDirectory.Text());
}

TEST_F(DriverOpen, BeforeOpenTheDeviceRecordHoldsItsDefaults)
{
    const DEVICE_INFO* device = driver.GetDeviceInfo();
    EXPECT_EQ(device->port, 80);
    EXPECT_EQ(device->requestTimeoutMs, 5000u);
    EXPECT_EQ(device->signalTimeoutMs, 15000u);
    EXPECT_EQ(driver.GetVideoStandard(), 0);
}

TEST_F(DriverOpen, WithoutDeviceParametersItFails)
{
    EXPECT_FALSE(driver.Open(&kit.Debug(), &kit.Allocator(), nullptr));
    EXPECT_EQ(driver.GetVideoCapture(), nullptr);
}

TEST_F(DriverOpen, ExtraParametersEndAtTheFirstGap)
{
    kit.Params().SetExtraParam(2, "2.0"); // index 1 is missing
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetParamInt(1), kMissingParamInt);
    EXPECT_EQ(driver.GetParamString(2), "");
    EXPECT_EQ(driver.GetVideoStandard(), 0);
}

TEST_F(DriverOpen, ExtraParameterOneSetsTheVideoStandard)
{
    kit.Params().SetExtraParam(1, "1");
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetVideoStandard(), 1);
}

TEST_F(DriverOpen, IntegerParametersAreStrictlyDecimal)
{
    const std::vector<std::pair<std::string, std::int32_t>> cases = {
        {"+", kMissingParamInt},
        {"-", kMissingParamInt},
        {"", kMissingParamInt},
        {"12a", kMissingParamInt},
        {" 12", kMissingParamInt},
        {"12 ", kMissingParamInt},
        {"0x10", kMissingParamInt},
        {"-7", -7},
        {"+7", 7},
        {"554", 554},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"2147483648", kMissingParamInt},
        {"99999999999999999999", kMissingParamInt},
        {"(none)", kMissingParamInt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        kit.Params().SetExtraParam(static_cast<std::int32_t>(i + 1), cases[i].first);
    ASSERT_TRUE(Open());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(driver.GetParamInt(static_cast<std::int32_t>(i + 1)), cases[i].second)
            << "text \"" << cases[i].first << "\"";
    EXPECT_EQ(driver.GetParamInt(99), kMissingParamInt);
}

TEST_F(DriverOpen, TextParametersTreatNoneAsEmpty)
{
    kit.Params().SetExtraParam(1, "(none)");
    kit.Params().SetExtraParam(2, "00:11:22:AA:BB:CC");
    kit.Params().SetExtraParam(3, "(None)");
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetParamString(1), "");
    EXPECT_EQ(driver.GetParamString(2), "00:11:22:AA:BB:CC");
    EXPECT_EQ(driver.GetParamString(3), "(None)") << "only the exact text means none";
    EXPECT_EQ(driver.GetParamString(4), "");
}

TEST_F(DriverOpen, AReopenReplacesTheExtraParameters)
{
    kit.Params().SetExtraParam(1, "0");
    kit.Params().SetExtraParam(2, "1.0");
    ASSERT_TRUE(Open());
    kit.Params().SetExtraParam(2, "2.0");
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.GetParamString(2), "2.0");
}

TEST_F(DriverOpen, TheChannelFactoryNeedsASinkAndAKnownCodec)
{
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver.CreateVideoChannel(0, nullptr, kCodecH264), nullptr);
    EXPECT_EQ(driver.CreateVideoChannel(0, &kit.Sink(), 2), nullptr);
    EXPECT_EQ(driver.CreateVideoChannel(0, &kit.Sink(), 4), nullptr);
    EXPECT_EQ(ResolveChannelCodec(0, kCodecH264), kCodecH264);
    EXPECT_EQ(ResolveChannelCodec(5, kCodecJpeg), kCodecJpeg);
    EXPECT_EQ(ResolveChannelCodec(kCodecJpeg, kCodecH264), kCodecJpeg);
}

TEST(HostDirectory, IsTheExecutablePathUpToItsLastSeparator)
{
    EXPECT_EQ(HostDirectoryOf("/opt/host/bin/recorder"), "/opt/host/bin/");
    EXPECT_EQ(HostDirectoryOf("recorder"), "recorder") << "no separator: the whole path";
    EXPECT_EQ(HostDirectoryOf(std::string(511, 'a')), std::string(511, 'a'));
    EXPECT_EQ(HostDirectoryOf("/" + std::string(511, 'a')), "") << "too long for the host's buffer";
}
}
}
