#include "hostkit/host_media_allocator.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrav::hostkit
{
namespace
{
using ipcapture::IIPMediaBuffer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class HostMediaAllocatorTest : public ::testing::Test
{
protected:
    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    // Optional so that a test can destroy it and look at what it reported.
    std::optional<HostMediaAllocator> allocator_{std::in_place, misuse_};
};

TEST_F(HostMediaAllocatorTest, BufferHasWritableStorageAndKeepsWhatItWasAllocatedWith)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 2048, "jpeg main");
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetCapacity(), 2048U);
    EXPECT_EQ(buffer->GetTypeCode(), ipcapture::kTypeCodeJpeg);
    EXPECT_EQ(buffer->GetDataSize(), 0U);
    EXPECT_FALSE(buffer->IsMarked());
    ipcapture::SystemTime time;
    EXPECT_FALSE(buffer->GetTimestamp(&time));

    // Every byte of the capacity is usable.
    std::memset(buffer->GetData(), 0x11, 2048);
    buffer->SetDataSize(2048);

    auto* hosted = dynamic_cast<HostMediaBuffer*>(buffer);
    ASSERT_NE(hosted, nullptr);
    EXPECT_EQ(hosted->OwnerName(), "jpeg main");
    EXPECT_EQ(allocator_->GetOutstandingCount(), 1U);

    allocator_->ReleaseBuffer(buffer);
    EXPECT_EQ(allocator_->GetOutstandingCount(), 0U);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostMediaAllocatorTest, ZeroCapacityStillGivesAPointer)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeI264, 0, "empty");
    ASSERT_NE(buffer, nullptr);
    EXPECT_NE(buffer->GetData(), nullptr);
    allocator_->ReleaseBuffer(buffer);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostMediaAllocatorTest, RecordsEveryRequestGrantedOrNot)
{
    IIPMediaBuffer* granted = allocator_->AllocateBuffer(ipcapture::kTypeCodeMotion, 1024, "CBaseMotionChannel");
    allocator_->FailNextAllocations(1);
    EXPECT_EQ(allocator_->AllocateBuffer(ipcapture::kTypeCodeH264, 64, nullptr), nullptr);

    const auto requests = allocator_->Requests();
    ASSERT_THAT(requests, SizeIs(2));
    EXPECT_EQ(requests[0].typeCode, ipcapture::kTypeCodeMotion);
    EXPECT_EQ(requests[0].capacity, 1024U);
    EXPECT_EQ(requests[0].ownerName, "CBaseMotionChannel");
    EXPECT_TRUE(requests[0].granted);
    EXPECT_EQ(requests[1].ownerName, "");
    EXPECT_FALSE(requests[1].granted);
    EXPECT_EQ(allocator_->GrantedCount(), 1U);
    EXPECT_EQ(allocator_->RefusedCount(), 1U);
    allocator_->ReleaseBuffer(granted);
}

TEST_F(HostMediaAllocatorTest, InjectedFailuresRefuseThenRecover)
{
    allocator_->FailNextAllocations(2);
    EXPECT_EQ(allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "a"), nullptr);
    EXPECT_EQ(allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "a"), nullptr);
    IIPMediaBuffer* afterTwo = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "a");
    EXPECT_NE(afterTwo, nullptr);

    allocator_->FailAllAllocations(true);
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "a"), nullptr);
    }
    allocator_->FailAllAllocations(false);
    IIPMediaBuffer* afterAll = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "a");
    EXPECT_NE(afterAll, nullptr);

    EXPECT_EQ(allocator_->RefusedCount(), 5U);
    allocator_->ReleaseBuffer(afterTwo);
    allocator_->ReleaseBuffer(afterAll);
    EXPECT_EQ(allocator_->GetOutstandingCount(), 0U);
}

TEST_F(HostMediaAllocatorTest, CapacityAboveTheLimitIsRefusedWithoutMisuse)
{
    allocator_->SetCapacityLimit(4096);
    EXPECT_EQ(allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 4097, "big"), nullptr);
    IIPMediaBuffer* atLimit = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 4096, "big");
    ASSERT_NE(atLimit, nullptr);
    allocator_->ReleaseBuffer(atLimit);
    // The default limit keeps a hostile size from exhausting the test machine.
    EXPECT_EQ(HostMediaAllocator{}.AllocateBuffer(ipcapture::kTypeCodeJpeg, 0xFFFFFFFFU, "huge"), nullptr);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}

TEST_F(HostMediaAllocatorTest, DoubleReleaseIsReportedOnce)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 16, "main");
    allocator_->ReleaseBuffer(buffer);
    allocator_->ReleaseBuffer(buffer);
    ASSERT_THAT(misuse_->Misuses(), SizeIs(1));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("released twice"));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("owner 'main'"));
    EXPECT_EQ(allocator_->ReleasedCount(), 1U);
}

TEST_F(HostMediaAllocatorTest, ReleaseOfForeignPointerOrNullIsReported)
{
    HostMediaAllocator other;
    IIPMediaBuffer* foreign = other.AllocateBuffer(ipcapture::kTypeCodeJpeg, 16, "other");
    allocator_->ReleaseBuffer(foreign);
    allocator_->ReleaseBuffer(nullptr);

    const auto misuses = misuse_->Misuses();
    ASSERT_THAT(misuses, SizeIs(2));
    EXPECT_THAT(misuses[0], HasSubstr("never handed out"));
    EXPECT_THAT(misuses[1], HasSubstr("null"));
    // The buffer still belongs to its own allocator.
    EXPECT_EQ(other.GetOutstandingCount(), 1U);
    other.ReleaseBuffer(foreign);
}

TEST_F(HostMediaAllocatorTest, EverySlotCalledAfterReleaseIsReported)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeH264, 16, "late");
    allocator_->ReleaseBuffer(buffer);

    const ipcapture::SystemTime time{};
    ipcapture::SystemTime readBack;
    EXPECT_EQ(buffer->GetData(), nullptr);
    buffer->GetCapacity();
    buffer->GetDataSize();
    buffer->SetDataSize(1);
    buffer->MarkBuffer();
    buffer->SetTimestamp(&time);
    buffer->GetTimestamp(&readBack);
    buffer->IsMarked();
    buffer->GetTypeCode();
    buffer->SetTypeCode(ipcapture::kTypeCodeI264);
    buffer->GetHeight();
    buffer->SetHeight(1);
    buffer->GetWidth();
    buffer->SetWidth(1);
    buffer->GetSizeClass();
    buffer->SetSizeClass(1);

    const auto misuses = misuse_->Misuses();
    EXPECT_THAT(misuses, SizeIs(16));
    EXPECT_EQ(misuse_->CountContaining("after its release"), 16U);
    EXPECT_THAT(misuses[0], HasSubstr("GetData"));
}

TEST_F(HostMediaAllocatorTest, DataSizeBeyondCapacityIsReportedAndClamped)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 100, "main");
    buffer->SetDataSize(100);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
    buffer->SetDataSize(101);
    ASSERT_THAT(misuse_->Misuses(), SizeIs(1));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("SetDataSize(101)"));
    EXPECT_EQ(buffer->GetDataSize(), 100U);
    allocator_->ReleaseBuffer(buffer);
}

TEST_F(HostMediaAllocatorTest, WritePastTheCapacityIsReportedAtRelease)
{
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 100, "overrun");
    buffer->GetData()[100] = 0;
    allocator_->ReleaseBuffer(buffer);
    ASSERT_THAT(misuse_->Misuses(), SizeIs(1));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("wrote past the capacity"));
}

TEST_F(HostMediaAllocatorTest, UnwrittenStorageHoldsAPatternNotLeftoverData)
{
    IIPMediaBuffer* first = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 64, "a");
    std::memset(first->GetData(), 0, 64);
    allocator_->ReleaseBuffer(first);
    IIPMediaBuffer* second = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 64, "a");
    const std::uint8_t* data = second->GetData();
    EXPECT_TRUE(
        std::all_of(data, data + 64, [](std::uint8_t byte) { return byte == HostMediaBuffer::kUnwrittenByte; }));
    allocator_->ReleaseBuffer(second);
}

TEST_F(HostMediaAllocatorTest, CheckAllReleasedReportsEachLeakOnce)
{
    IIPMediaBuffer* kept = allocator_->AllocateBuffer(ipcapture::kTypeCodeH264, 10, "leaky");
    IIPMediaBuffer* returned = allocator_->AllocateBuffer(ipcapture::kTypeCodeH264, 10, "tidy");
    allocator_->ReleaseBuffer(returned);

    EXPECT_EQ(allocator_->CheckAllReleased(), 1U);
    EXPECT_EQ(allocator_->CheckAllReleased(), 1U);
    ASSERT_THAT(misuse_->Misuses(), SizeIs(1));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("owner 'leaky'"));
    EXPECT_THAT(misuse_->Misuses()[0], HasSubstr("never released"));

    // A late release is still a proper release, and destruction then has nothing to say.
    allocator_->ReleaseBuffer(kept);
    EXPECT_EQ(allocator_->CheckAllReleased(), 0U);
    allocator_.reset();
    EXPECT_THAT(misuse_->Misuses(), SizeIs(1));
}

TEST_F(HostMediaAllocatorTest, DestructionReportsBuffersNeverReleased)
{
    allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "first");
    allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "second");
    allocator_.reset();
    EXPECT_EQ(misuse_->CountContaining("never released"), 2U);
    EXPECT_EQ(misuse_->CountContaining("owner 'first'"), 1U);
    EXPECT_EQ(misuse_->CountContaining("owner 'second'"), 1U);
}

TEST_F(HostMediaAllocatorTest, ReservedSlotsAreReported)
{
    allocator_->ReservedSlot3();
    allocator_->ReservedSlot4();
    allocator_->ReservedSlot5();
    EXPECT_THAT(misuse_->Misuses(),
                ElementsAre(HasSubstr("IIPMediaAllocator slot 3"), HasSubstr("IIPMediaAllocator slot 4"),
                            HasSubstr("IIPMediaAllocator slot 5")));
}

TEST_F(HostMediaAllocatorTest, GraveyardIsBoundedAndEvictedPointersAreStillCaught)
{
    std::vector<IIPMediaBuffer*> released;
    for (std::size_t i = 0; i < HostMediaAllocator::kGraveyardSize + 1; ++i)
    {
        IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeI264, 0, "churn");
        allocator_->ReleaseBuffer(buffer);
        released.push_back(buffer);
    }
    // The first shell is gone: its pointer must only be looked up, never followed.
    allocator_->ReleaseBuffer(released.front());
    allocator_->ReleaseBuffer(released.back());
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("never handed out"), HasSubstr("released twice")));
}

TEST_F(HostMediaAllocatorTest, HandlerMayReadTheAllocatorWhileItReports)
{
    std::vector<std::uint32_t> outstandingSeen;
    misuse_->SetMisuseHandler([&](const std::string&)
                              { outstandingSeen.push_back(allocator_->GetOutstandingCount()); });
    IIPMediaBuffer* buffer = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "x");
    allocator_->ReleaseBuffer(buffer);
    allocator_->ReleaseBuffer(buffer);
    IIPMediaBuffer* leak = allocator_->AllocateBuffer(ipcapture::kTypeCodeJpeg, 10, "x");
    allocator_->CheckAllReleased();
    EXPECT_THAT(outstandingSeen, ElementsAre(0U, 1U));
    allocator_->ReleaseBuffer(leak);
}

TEST_F(HostMediaAllocatorTest, ConcurrentAllocationsAndReleasesKeepCountsExact)
{
    constexpr int kThreads = 8;
    constexpr int kBuffersPerThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [this, t]
            {
                const std::string owner = "thread " + std::to_string(t);
                std::vector<IIPMediaBuffer*> held;
                for (int i = 0; i < kBuffersPerThread; ++i)
                {
                    IIPMediaBuffer* buffer =
                        allocator_->AllocateBuffer(ipcapture::kTypeCodeH264, 64 + i % 7, owner.c_str());
                    ASSERT_NE(buffer, nullptr);
                    std::memset(buffer->GetData(), t, buffer->GetCapacity());
                    held.push_back(buffer);
                    // Hold a few at a time so the outstanding set really grows and shrinks.
                    if (held.size() == 4)
                    {
                        for (IIPMediaBuffer* done : held)
                        {
                            allocator_->ReleaseBuffer(done);
                        }
                        held.clear();
                    }
                }
                for (IIPMediaBuffer* done : held)
                {
                    allocator_->ReleaseBuffer(done);
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }
    EXPECT_EQ(allocator_->GrantedCount(), std::uint64_t{kThreads * kBuffersPerThread});
    EXPECT_EQ(allocator_->ReleasedCount(), std::uint64_t{kThreads * kBuffersPerThread});
    EXPECT_EQ(allocator_->GetOutstandingCount(), 0U);
    EXPECT_THAT(misuse_->Misuses(), IsEmpty());
}
}
}
