#include "hostkit/host_kit.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrav::hostkit
{
namespace
{
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StrEq;

TEST(HostKitTest, DeviceParamsLeadToAReadyLocalCamera)
{
    HostKit kit;
    ipcapture::IIPDeviceParams& params = kit.Params();
    ipcapture::IIPDeviceModel* model = params.GetDeviceModel();
    ipcapture::IIPConnectionParams* connection = params.GetConnectionParams();
    ASSERT_EQ(model, &kit.Model());
    ASSERT_EQ(connection, &kit.Connection());
    EXPECT_THAT(connection->GetAddress(), StrEq("127.0.0.1"));
    EXPECT_EQ(connection->GetPort(), 80);
    EXPECT_EQ(connection->GetDefaultCodec(), 3);
    EXPECT_THAT(connection->GetUserName(), StrEq(""));
    EXPECT_THAT(model->GetModelName(), StrEq("TestModel"));
    EXPECT_EQ(model->GetVideoChannelCount(), 1U);
    EXPECT_EQ(params.GetExtraParam(1), nullptr);
    // One log for all three objects.
    EXPECT_THAT(kit.Calls().Entries(), SizeIs(9));
    EXPECT_THAT(kit.Misuses(), IsEmpty());
}

TEST(HostKitTest, EveryObjectReportsToTheKitsHandler)
{
    std::vector<std::string> reported;
    {
        HostKit kit;
        kit.SetMisuseHandler([&](const std::string& misuse) { reported.push_back(misuse); });
        HostFrameSink secondSink(kit.SharedMisuse());

        kit.Debug().WriteDebugInfo(nullptr);
        kit.Sink().ReservedSlot2();
        secondSink.ReservedSlot2();
        kit.Params().ReservedSlot3();
        kit.Allocator().AllocateBuffer(ipcapture::kTypeCodeJpeg, 8, "forgotten");
        EXPECT_THAT(kit.Misuses(), SizeIs(4));
    }
    // The leak is found when the kit goes away.
    EXPECT_THAT(reported, ElementsAre(HasSubstr("WriteDebugInfo"), HasSubstr("IIPFrameSink slot 2"),
                                      HasSubstr("IIPFrameSink slot 2"), HasSubstr("IIPDeviceParams slot 3"),
                                      HasSubstr("owner 'forgotten'")));
}

TEST(MisuseMonitorTest, StoresUpToTheLimitButCountsAndHandlesAll)
{
    MisuseMonitor monitor;
    std::size_t handled = 0;
    std::size_t storedSeenByHandler = 0;
    // The handler may read the monitor: it runs outside its lock.
    monitor.SetMisuseHandler(
        [&](const std::string&)
        {
            ++handled;
            storedSeenByHandler = monitor.Misuses().size();
        });
    for (std::size_t i = 0; i < MisuseMonitor::kStoredMisuseLimit + 5; ++i)
    {
        monitor.Report("misuse " + std::to_string(i));
    }
    EXPECT_EQ(handled, MisuseMonitor::kStoredMisuseLimit + 5);
    EXPECT_EQ(storedSeenByHandler, MisuseMonitor::kStoredMisuseLimit);
    EXPECT_EQ(monitor.Count(), MisuseMonitor::kStoredMisuseLimit + 5);
    ASSERT_THAT(monitor.Misuses(), SizeIs(MisuseMonitor::kStoredMisuseLimit));
    // The first reports are kept: they show where things started to go wrong.
    EXPECT_EQ(monitor.Misuses().front(), "misuse 0");
    EXPECT_EQ(monitor.CountContaining("misuse 99"), 11U);
    monitor.Clear();
    EXPECT_EQ(monitor.Count(), 0U);
}
}
}
