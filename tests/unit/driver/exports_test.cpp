#include <gtest/gtest.h>

#include <brantel/capture_driver.h>
#include <brantel/exports.h>

#include "support/host_fixture.h"

namespace kestrav
{
namespace
{
using CreateFunction = ipcapture::IIPCaptureDriver* (*)();
using DeleteFunction = void (*)(void*);

class Exports : public testing::HostFixture
{
};

TEST_F(Exports, EveryCreateNameGivesAFreshDriverThatEveryDeleteNameDestroys)
{
    const CreateFunction creates[] = {CreateIPCapture,    CreateIPCaptureEx,  CreateIPCaptureEx2,
                                      CreateIPCaptureEx3, CreateIPCaptureEx4, CreateIPCaptureEx5};
    const DeleteFunction deletes[] = {DeleteIPCapture,    DeleteIPCaptureEx,  DeleteIPCaptureEx2,
                                      DeleteIPCaptureEx3, DeleteIPCaptureEx4, DeleteIPCaptureEx5};
    for (std::size_t i = 0; i < std::size(creates); ++i)
    {
        ipcapture::IIPCaptureDriver* first = creates[i]();
        ipcapture::IIPCaptureDriver* second = creates[i]();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        ASSERT_TRUE(first->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
        deletes[i](first);
        deletes[(i + 1) % std::size(deletes)](second);
    }
}

TEST_F(Exports, DeletesIgnoreNull)
{
    for (DeleteFunction remove : {DeleteIPCapture, DeleteIPCaptureEx, DeleteIPCaptureEx2, DeleteIPCaptureEx3,
                                  DeleteIPCaptureEx4, DeleteIPCaptureEx5, DeleteCapabilityQueryModule})
        remove(nullptr);
}

TEST_F(Exports, OneObjectServesEveryInterfaceVersion)
{
    auto* driver = static_cast<ipcapture::IIPCaptureDriverEx5*>(CreateIPCaptureEx5());
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->GetVideoCapture(), nullptr) << "nothing before Open";
    EXPECT_EQ(driver->GetPTZDriver(), nullptr);
    EXPECT_EQ(driver->GetCaptureIO(), nullptr);

    ASSERT_TRUE(driver->Open(&kit.Debug(), &kit.Allocator(), &kit.Params()));
    ASSERT_NE(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(static_cast<void*>(driver->GetVideoCapture()), static_cast<void*>(driver->GetVideoCaptureEx()));
    EXPECT_EQ(static_cast<void*>(driver->GetVideoCapture()), static_cast<void*>(driver->GetVideoCaptureEx2()));
    ASSERT_NE(driver->GetPTZDriver(), nullptr);
    EXPECT_EQ(static_cast<void*>(driver->GetPTZDriver()), static_cast<void*>(driver->GetPTZDriverEx()));
    EXPECT_NE(driver->GetCaptureIO(), nullptr);
    EXPECT_EQ(driver->GetOptionalInterface5(), nullptr);
    EXPECT_EQ(driver->GetOptionalInterface7(), nullptr);
    EXPECT_EQ(driver->GetOptionalInterface10(), nullptr);
    EXPECT_EQ(driver->GetOptionalInterface11(), nullptr);

    driver->Close();
    EXPECT_EQ(driver->GetVideoCapture(), nullptr);
    EXPECT_EQ(driver->GetVideoCaptureEx2(), nullptr);
    EXPECT_EQ(driver->GetPTZDriverEx(), nullptr);
    EXPECT_EQ(driver->GetCaptureIO(), nullptr);
    driver->Close(); // a second Close does nothing
    DeleteIPCapture(driver);
}
}
}
