#include "hostkit/host_device_params.h"

#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrav::hostkit
{
namespace
{
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StrEq;

class HostDeviceParamsTest : public ::testing::Test
{
protected:
    HostDeviceParamsTest()
    {
        params_.SetDeviceModel(&model_);
        params_.SetConnectionParams(&connection_);
    }

    std::shared_ptr<HostCallLog> calls_ = std::make_shared<HostCallLog>();
    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostDeviceModel model_{calls_, misuse_};
    HostConnectionParams connection_{calls_, misuse_};
    HostDeviceParams params_{calls_, misuse_};
};

TEST_F(HostDeviceParamsTest, CallLogShowsTheOrderOfReadsAcrossAllThreeObjects)
{
    params_.GetConnectionParams()->GetDefaultCodec();
    params_.GetDeviceModel()->GetInputCount();
    model_.GetOutputCount();
    model_.GetVideoChannelCount();
    connection_.GetAddress();
    connection_.GetPort();
    connection_.GetUserName();
    connection_.GetPassword();
    model_.GetModelName();
    params_.GetExtraParam(2);

    EXPECT_THAT(calls_->Entries(),
                ElementsAre("params.GetConnectionParams", "connection.GetDefaultCodec", "params.GetDeviceModel",
                            "model.GetInputCount", "model.GetOutputCount", "model.GetVideoChannelCount",
                            "connection.GetAddress", "connection.GetPort", "connection.GetUserName",
                            "connection.GetPassword", "model.GetModelName", "params.GetExtraParam(2)"));
    EXPECT_EQ(calls_->Count("model.GetInputCount"), 1U);
    calls_->Clear();
    EXPECT_THAT(calls_->Entries(), IsEmpty());
}

TEST_F(HostDeviceParamsTest, TextsCanBeNullAndObjectsMissing)
{
    EXPECT_EQ(model_.GetModelName(), nullptr);
    EXPECT_EQ(connection_.GetAddress(), nullptr);
    connection_.SetUserName("");
    EXPECT_THAT(connection_.GetUserName(), StrEq(""));
    connection_.SetUserName(std::nullopt);
    EXPECT_EQ(connection_.GetUserName(), nullptr);

    params_.SetDeviceModel(nullptr);
    params_.SetConnectionParams(nullptr);
    EXPECT_EQ(params_.GetDeviceModel(), nullptr);
    EXPECT_EQ(params_.GetConnectionParams(), nullptr);
}

TEST_F(HostDeviceParamsTest, ExtraParamsAreSparseAndRemovable)
{
    params_.SetExtraParam(1, "0");
    params_.SetExtraParam(3, "00:11:22:33:44:55");
    EXPECT_THAT(params_.GetExtraParam(1), StrEq("0"));
    EXPECT_EQ(params_.GetExtraParam(2), nullptr);
    EXPECT_THAT(params_.GetExtraParam(3), StrEq("00:11:22:33:44:55"));
    EXPECT_EQ(params_.GetExtraParam(7), nullptr);

    params_.SetExtraParam(3, std::nullopt);
    EXPECT_EQ(params_.GetExtraParam(3), nullptr);
    params_.ClearExtraParams();
    EXPECT_EQ(params_.GetExtraParam(1), nullptr);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostDeviceParamsTest, IndexBelowOneIsAMisuse)
{
    params_.SetExtraParam(0, "never readable");
    EXPECT_EQ(params_.GetExtraParam(0), nullptr);
    EXPECT_EQ(params_.GetExtraParam(-1), nullptr);
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("GetExtraParam(0)"), HasSubstr("GetExtraParam(-1)")));
}

TEST_F(HostDeviceParamsTest, ReservedSlotsAreReportedAndLogged)
{
    model_.ReservedSlot1();
    model_.ReservedSlot4();
    connection_.ReservedSlot3();
    params_.ReservedSlot3();
    EXPECT_THAT(misuse_->Misuses(),
                ElementsAre(HasSubstr("IIPDeviceModel slot 1"), HasSubstr("IIPDeviceModel slot 4"),
                            HasSubstr("IIPConnectionParams slot 3"), HasSubstr("IIPDeviceParams slot 3")));
    EXPECT_THAT(calls_->Entries(), ElementsAre("model.ReservedSlot1", "model.ReservedSlot4", "connection.ReservedSlot3",
                                               "params.ReservedSlot3"));
}
}
}
