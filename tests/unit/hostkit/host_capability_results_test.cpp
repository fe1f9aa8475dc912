#include "hostkit/host_capability_results.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostkit/host_capability_query_sink.h"
#include "hostkit/host_device_params.h"

namespace kestrav::hostkit
{
namespace
{
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;
using ::testing::SizeIs;
using ::testing::StrEq;

class HostCapabilityResultsTest : public ::testing::Test
{
protected:
    // Writes one named text the way a module must: name first.
    void WriteNamed(std::int32_t id, const char* name, const char* text, std::int32_t flag)
    {
        ipcapture::IIPCapabilityItem* item = results_.GetNamedItem(id);
        item->SetName(name);
        item->SetEditable(0);
        item->SetFlag(flag);
        item->SetText(text);
    }

    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostCapabilityResults results_{misuse_};
};

TEST_F(HostCapabilityResultsTest, KeepsEveryKindOfWriteAndTheirOrder)
{
    EXPECT_TRUE(results_.SetDeviceName("Brantel BR-100"));
    results_.SetValue(8, 1);
    results_.SetValue(8, 0);
    results_.GetConnectionItem(2)->SetText("8080");
    EXPECT_EQ(results_.GetConnectionItem(2), results_.GetConnectionItem(2));
    WriteNamed(6, "PTZ features", "1,1,128", 1);
    results_.GetResolutionList()->Add("1920x1080", 1920, 1080, 33);
    results_.GetValueList(1)->Add(1000);
    results_.GetValueList(1)->Add(500);
    results_.GetValueList(1)->SetDefault(500);
    results_.GetValueList(3)->SetDefault(40);

    const CapabilitySnapshot snapshot = results_.Snapshot();
    EXPECT_THAT(snapshot.deviceName, Optional(std::string("Brantel BR-100")));
    EXPECT_EQ(snapshot.values.at(8), 0U);
    EXPECT_THAT(snapshot.connectionItems.at(2).text, Optional(std::string("8080")));
    const CapabilityItemRecord& ptz = snapshot.namedItems.at(6);
    EXPECT_THAT(ptz.name, Optional(std::string("PTZ features")));
    EXPECT_THAT(ptz.text, Optional(std::string("1,1,128")));
    EXPECT_EQ(ptz.flag, 1);
    EXPECT_EQ(ptz.editable, 0);
    ASSERT_THAT(snapshot.resolutions, SizeIs(1));
    EXPECT_EQ(snapshot.resolutions[0].frameRateCode, 33U);
    EXPECT_THAT(snapshot.valueLists.at(1).values, ElementsAre(1000U, 500U));
    EXPECT_EQ(snapshot.valueLists.at(1).defaultValue, 500U);
    EXPECT_EQ(snapshot.valueLists.at(3).defaultValue, 40U);
    EXPECT_THAT(snapshot.valueLists.at(3).values, IsEmpty());
    EXPECT_THAT(snapshot.writes,
                ElementsAre("SetDeviceName(Brantel BR-100)", "SetValue(8, 1)", "SetValue(8, 0)",
                            "connection(2).SetText(8080)", "named(6).SetName(PTZ features)", "named(6).SetEditable(0)",
                            "named(6).SetFlag(1)", "named(6).SetText(1,1,128)",
                            "resolutions.Add(1920x1080, 1920, 1080, 33)", "list(1).Add(1000)", "list(1).Add(500)",
                            "list(1).SetDefault(500)", "list(3).SetDefault(40)"));
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

struct MisuseCase
{
    const char* name;
    void (*write)(HostCapabilityResults& results);
    const char* expected;
};

class HostCapabilityResultsMisuseTest : public HostCapabilityResultsTest,
                                        public ::testing::WithParamInterface<MisuseCase>
{
};

TEST_P(HostCapabilityResultsMisuseTest, IsReportedAndTheWriteIsStillKept)
{
    GetParam().write(results_);
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr(GetParam().expected)));
    EXPECT_THAT(results_.Snapshot().writes, SizeIs(1));
}

const MisuseCase kMisuses[] = {
    {"NullDeviceName", [](HostCapabilityResults& r) { r.SetDeviceName(nullptr); }, "SetDeviceName(<null>)"},
    {"EmptyDeviceName", [](HostCapabilityResults& r) { r.SetDeviceName(""); }, "needs one"},
    {"ValueAbove27", [](HostCapabilityResults& r) { r.SetValue(28, 1); }, "go up to 27"},
    {"ConnectionItem0", [](HostCapabilityResults& r) { r.GetConnectionItem(0)->SetText("x"); }, "1 to 4"},
    {"ConnectionItem5", [](HostCapabilityResults& r) { r.GetConnectionItem(5)->SetText("x"); }, "1 to 4"},
    {"NullItemText", [](HostCapabilityResults& r) { r.GetConnectionItem(1)->SetText(nullptr); }, "null text"},
    {"NamedTextBeforeName", [](HostCapabilityResults& r) { r.GetNamedItem(5)->SetText("h264:"); },
     "before the item's name"},
    {"EmptyName", [](HostCapabilityResults& r) { r.GetNamedItem(5)->SetName(""); }, "needs a name"},
    {"FlagTwo", [](HostCapabilityResults& r) { r.GetConnectionItem(1)->SetFlag(2); }, "only 0 or 1"},
    {"NamedIdZero", [](HostCapabilityResults& r) { r.GetNamedItem(0)->SetName("x"); }, "start at 1"},
    {"ListIndexZero", [](HostCapabilityResults& r) { r.GetValueList(0)->Add(1); }, "start at 1"},
    {"ZeroSizedResolution", [](HostCapabilityResults& r) { r.GetResolutionList()->Add("0x0", 0, 0, 33); },
     "zero-sized"},
    {"UnnamedResolution", [](HostCapabilityResults& r) { r.GetResolutionList()->Add(nullptr, 352, 240, 33); },
     "needs its text"},
    {"ResolutionTextOtherSize", [](HostCapabilityResults& r) { r.GetResolutionList()->Add("cif", 352, 240, 33); },
     "not the size"},
    {"ResolutionWithoutRate", [](HostCapabilityResults& r) { r.GetResolutionList()->Add("352x240", 352, 240, 0); },
     "no frame-rate code"},
};

INSTANTIATE_TEST_SUITE_P(Writes, HostCapabilityResultsMisuseTest, ::testing::ValuesIn(kMisuses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostCapabilityResultsTest, RepeatsAndReservedSlotsAreReported)
{
    results_.GetResolutionList()->Add("720x480", 720, 480, 33);
    results_.GetResolutionList()->Add("720x480", 720, 480, 40);
    results_.GetValueList(1)->Add(33);
    results_.GetValueList(1)->Add(33);
    results_.ReservedSlot4();
    results_.ReservedSlot7();
    results_.GetNamedItem(1)->ReservedSlot2();
    EXPECT_THAT(misuse_->Misuses(),
                ElementsAre(HasSubstr("already listed"), HasSubstr("already listed"), HasSubstr("slot 4"),
                            HasSubstr("slot 7"), HasSubstr("IIPCapabilityItem slot 2")));
    EXPECT_THAT(results_.Snapshot().resolutions, SizeIs(2));
}

TEST_F(HostCapabilityResultsTest, InjectedFaultThrowsAfterTheWriteWasKept)
{
    results_.SetWriteFault(HostCapabilityResults::WriteFault::ThrowStdException);
    EXPECT_THROW(results_.GetNamedItem(1)->SetName("Video standard"), std::runtime_error);
    results_.SetWriteFault(HostCapabilityResults::WriteFault::None);
    results_.GetNamedItem(1)->SetText("1");
    EXPECT_THAT(results_.DeviceDetailTexts(), ElementsAre(std::pair(1, std::string("1"))));
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostCapabilityResultsTest, WritesAfterTheOutcomeAreReported)
{
    HostCapabilityQuerySink sink(misuse_);
    sink.SealAtOutcome(&results_);
    results_.SetValue(0, 1);
    sink.OnQueryCompleted();
    EXPECT_TRUE(results_.IsSealed());
    results_.SetValue(27, 1);
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("SetValue(27, 1) after the query reported its outcome")));
}

TEST_F(HostCapabilityResultsTest, DeviceDetailsBecomeExtraParamsOneToSix)
{
    HostDeviceParams params;
    params.SetExtraParam(4, "stale");
    WriteNamed(1, "Video standard", "1", 0);
    WriteNamed(5, "Stream capabilities", "h264:1080p 1920x1080 30 1024- 20-,;#", 1);
    WriteNamed(101, "Audio Input Parameters", "Count=1; IsStereo=0", 1);
    EXPECT_FALSE(results_.WriteDeviceDetails(params));
    EXPECT_THAT(params.GetExtraParam(1), StrEq("1"));
    EXPECT_THAT(params.GetExtraParam(5), StrEq("h264:1080p 1920x1080 30 1024- 20-,;#"));
    EXPECT_EQ(params.GetExtraParam(4), nullptr);

    for (std::int32_t id : {2, 3, 4, 6})
    {
        WriteNamed(id, "detail", "(none)", 1);
    }
    EXPECT_TRUE(results_.WriteDeviceDetails(params));
    EXPECT_THAT(params.GetExtraParam(4), StrEq("(none)"));
    EXPECT_THAT(results_.DeviceDetailTexts(), SizeIs(6));
}

TEST_F(HostCapabilityResultsTest, ConcurrentWritersLoseNothing)
{
    constexpr int kThreads = 4;
    constexpr std::uint32_t kPerThread = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
    {
        writers.emplace_back(
            [this, t]
            {
                for (std::uint32_t i = 0; i < kPerThread; ++i)
                {
                    results_.GetValueList(t + 1)->Add(i);
                    results_.GetNamedItem(200 + t)->SetName("n");
                }
            });
    }
    for (std::thread& writer : writers)
    {
        writer.join();
    }
    const CapabilitySnapshot snapshot = results_.Snapshot();
    EXPECT_EQ(snapshot.writeCount, kThreads * kPerThread * 2);
    for (int t = 1; t <= kThreads; ++t)
    {
        EXPECT_THAT(snapshot.valueLists.at(t).values, SizeIs(kPerThread));
    }
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}
}
}
