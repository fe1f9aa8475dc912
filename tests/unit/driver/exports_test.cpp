#include <gtest/gtest.h>

#include <brantel/capability_query.h>
#include <brantel/capture_driver.h>
#include <brantel/exports.h>

#include <atomic>
#include <future>
#include <new>
#include <string>

#include "support/host_fixture.h"

// A nothrow allocation that fails on demand, to see an export without memory.
namespace
{
std::atomic<bool> g_failNothrowNew{false};
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_failNothrowNew)
        return nullptr;
    // The ordinary allocation, so that the ordinary delete (and a sanitizer's) pairs with it.
    try
    {
        return ::operator new(size);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

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
// Tells the one outcome of a query.
class FailureSink : public ipcapture::IIPCapabilityQuerySink
{
public:
    void ReservedSlot1() override {}
    void OnQueryCompleted() override { m_outcome.set_value("completed"); }
    void OnQueryFailed(std::int32_t code, const char* message) override
    {
        m_outcome.set_value(std::to_string(code) + " " + message);
    }
    void OnQueryThreadTerminated() override {}
    std::future<std::string> Outcome() { return m_outcome.get_future(); }

private:
    std::promise<std::string> m_outcome;
};

TEST(CapabilityQueryExports, ObjectFormGivesFreshModulesForTheSharedDelete)
{
    FailureSink sink;
    ipcapture::IIPCapabilityQuery* first = CreateCapabilityQueryModule(&sink, true);
    ipcapture::IIPCapabilityQuery* second = CreateCapabilityQueryModule(&sink, false);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(static_cast<void*>(first), static_cast<void*>(static_cast<ipcapture::IIPDeletable*>(first)));
    DeleteCapabilityQueryModule(first);
    DeleteIPCapture(second);

    g_failNothrowNew = true;
    ipcapture::IIPCapabilityQuery* none = CreateCapabilityQueryModule(&sink, true);
    const std::int32_t initialised = InitCapabilityQuery(&sink, true);
    g_failNothrowNew = false;
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(initialised, 0) << "no module, no success";
    EXPECT_EQ(StartCapabilityQuery("10.0.0.5", 80, "admin", "", nullptr), 0);
}

TEST(CapabilityQueryExports, ProcessWideFormRunsOneModule)
{
    EXPECT_EQ(TerminateCapabilityQuery(), 1);
    EXPECT_EQ(UninitCapabilityQuery(), 1);
    EXPECT_EQ(StartCapabilityQuery("10.0.0.5", 80, "admin", "", nullptr), 0) << "no module";

    FailureSink sink;
    ASSERT_EQ(InitCapabilityQuery(&sink, true), 1);
    EXPECT_EQ(InitCapabilityQuery(&sink, true), 0);
    for (const std::int32_t port : {0, -1, 65536, 0x10050})
        EXPECT_EQ(StartCapabilityQuery("10.0.0.5", port, "admin", "", nullptr), 0) << port;
    EXPECT_EQ(StartCapabilityQuery("10.0.0.5", 80, nullptr, "", nullptr), 0);
    EXPECT_EQ(StartCapabilityQuery("10.0.0.5", 80, "admin", nullptr, nullptr), 0);
    // The address is refused on the query thread: no network is needed to see the whole road.
    auto outcome = sink.Outcome();
    ASSERT_EQ(StartCapabilityQuery("10.0.0.5:80", 65535, "admin", "", nullptr), 1);
    EXPECT_EQ(outcome.get(), "0 Failed to start capability fetching thread. Device address is invalid!");
    EXPECT_EQ(TerminateCapabilityQuery(), 1);
    EXPECT_EQ(UninitCapabilityQuery(), 1);

    ASSERT_EQ(InitCapabilityQuery(&sink, false), 1) << "a new module after Uninit";
    EXPECT_EQ(UninitCapabilityQuery(), 1);
}
}
}
