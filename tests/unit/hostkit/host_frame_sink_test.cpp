#include "hostkit/host_frame_sink.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostkit/host_media_allocator.h"

namespace kestrav::hostkit
{
namespace
{
using ipcapture::IIPMediaBuffer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using namespace std::chrono_literals;

constexpr auto kShortWait = 50ms;
constexpr auto kLongWait = 10s;

class HostFrameSinkTest : public ::testing::Test
{
protected:
    // Allocates, fills with `payload`, delivers and releases, as a module producer does.
    bool Produce(const std::vector<std::uint8_t>& payload, const char* owner = "main")
    {
        IIPMediaBuffer* buffer =
            allocator_.AllocateBuffer(ipcapture::kTypeCodeI264, static_cast<std::uint32_t>(payload.size()), owner);
        EXPECT_NE(buffer, nullptr);
        if (buffer == nullptr)
        {
            return false;
        }
        std::memcpy(buffer->GetData(), payload.data(), payload.size());
        buffer->SetDataSize(static_cast<std::uint32_t>(payload.size()));
        const bool accepted = sink_.DeliverFrame(buffer);
        allocator_.ReleaseBuffer(buffer);
        return accepted;
    }

    void TearDown() override { EXPECT_THAT(misuse_->Misuses(), IsEmpty()); }

    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostMediaAllocator allocator_{misuse_};
    HostFrameSink sink_{misuse_};
};

TEST_F(HostFrameSinkTest, RecordIsACopyOfEverythingTheHostCanRead)
{
    IIPMediaBuffer* buffer = allocator_.AllocateBuffer(ipcapture::kTypeCodeI264, 16, "rtsph264main");
    const std::uint8_t payload[] = {0x00, 0x00, 0x00, 0x01, 0x65};
    std::memcpy(buffer->GetData(), payload, sizeof(payload));
    buffer->SetDataSize(sizeof(payload));
    buffer->SetTypeCode(ipcapture::kTypeCodeH264);
    buffer->SetWidth(704);
    buffer->SetHeight(576);
    buffer->SetSizeClass(4);
    buffer->MarkBuffer();
    ipcapture::SystemTime time;
    time.wYear = 2024;
    time.wMonth = 2;
    time.wDay = 29;
    time.wHour = 23;
    time.wMinute = 59;
    time.wSecond = 58;
    time.wMilliseconds = 999;
    buffer->SetTimestamp(&time);

    EXPECT_TRUE(sink_.DeliverFrame(buffer));
    // The record must not depend on the buffer, which goes back to the allocator now.
    allocator_.ReleaseBuffer(buffer);

    const auto frame = sink_.LastFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->sequence, 1U);
    EXPECT_EQ(frame->typeCode, ipcapture::kTypeCodeH264);
    EXPECT_EQ(frame->width, 704U);
    EXPECT_EQ(frame->height, 576U);
    EXPECT_EQ(frame->sizeClass, 4U);
    EXPECT_TRUE(frame->marked);
    EXPECT_EQ(frame->capacity, 16U);
    EXPECT_EQ(frame->ownerName, "rtsph264main");
    // Only the bytes up to the data size, not the whole capacity.
    EXPECT_THAT(frame->data, ElementsAre(0x00, 0x00, 0x00, 0x01, 0x65));
    ASSERT_TRUE(frame->timestamp.has_value());
    EXPECT_EQ(frame->timestamp->wYear, 2024);
    EXPECT_EQ(frame->timestamp->wDay, 29);
    EXPECT_EQ(frame->timestamp->wMilliseconds, 999);
    EXPECT_EQ(frame->deliveringThread, std::this_thread::get_id());
}

TEST_F(HostFrameSinkTest, AnswersAsConfiguredAndKeepsRefusedFrames)
{
    EXPECT_TRUE(Produce({1}));
    sink_.SetAccept(false);
    EXPECT_FALSE(Produce({2}));
    EXPECT_EQ(sink_.DeliveredCount(), 2U);
    EXPECT_THAT(sink_.Frames(), SizeIs(2));
    // Never stamped nor marked.
    EXPECT_FALSE(sink_.LastFrame()->timestamp.has_value());
    EXPECT_FALSE(sink_.LastFrame()->marked);
}

TEST_F(HostFrameSinkTest, InjectedFaultsThrowAfterTheFrameIsRecorded)
{
    IIPMediaBuffer* buffer = allocator_.AllocateBuffer(ipcapture::kTypeCodeJpeg, 4, "main");
    sink_.SetDeliverFault(HostFrameSink::DeliverFault::ThrowStdException);
    EXPECT_THROW(sink_.DeliverFrame(buffer), std::exception);

    sink_.SetDeliverFault(HostFrameSink::DeliverFault::ThrowForeignObject);
    bool caughtAsStd = false;
    bool caughtByCatchAll = false;
    try
    {
        sink_.DeliverFrame(buffer);
    }
    catch (const std::exception&)
    {
        caughtAsStd = true;
    }
    catch (...)
    {
        caughtByCatchAll = true;
    }
    EXPECT_FALSE(caughtAsStd);
    EXPECT_TRUE(caughtByCatchAll);

    sink_.SetDeliverFault(HostFrameSink::DeliverFault::None);
    EXPECT_TRUE(sink_.DeliverFrame(buffer));
    allocator_.ReleaseBuffer(buffer);
    EXPECT_EQ(sink_.DeliveredCount(), 3U);
}

TEST_F(HostFrameSinkTest, FrameLimitKeepsTheMostRecentButCountsAll)
{
    sink_.SetFrameLimit(3);
    for (std::uint8_t i = 1; i <= 5; ++i)
    {
        Produce({i});
    }
    const auto frames = sink_.Frames();
    ASSERT_THAT(frames, SizeIs(3));
    EXPECT_EQ(frames[0].sequence, 3U);
    EXPECT_THAT(frames[2].data, ElementsAre(5));
    EXPECT_EQ(sink_.DeliveredCount(), 5U);

    sink_.Clear();
    EXPECT_EQ(sink_.DeliveredCount(), 0U);
    Produce({6});
    EXPECT_EQ(sink_.LastFrame()->sequence, 1U);
}

TEST_F(HostFrameSinkTest, CallbackSeesEachFrameOnTheDeliveringThread)
{
    std::vector<std::uint64_t> sequences;
    std::vector<std::thread::id> threads;
    sink_.SetFrameCallback(
        [&](const DeliveredFrame& frame)
        {
            sequences.push_back(frame.sequence);
            threads.push_back(std::this_thread::get_id());
        });
    std::thread producer([this] { Produce({1, 2}); });
    producer.join();
    Produce({3});
    EXPECT_THAT(sequences, ElementsAre(1U, 2U));
    ASSERT_THAT(threads, SizeIs(2));
    EXPECT_NE(threads[0], std::this_thread::get_id());
    EXPECT_EQ(threads[1], std::this_thread::get_id());
}

TEST_F(HostFrameSinkTest, WaitForFramesTimesOutThenSucceedsWhenFramesArrive)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sink_.WaitForFrames(1, kShortWait));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShortWait);

    std::thread producer(
        [this]
        {
            for (std::uint8_t i = 0; i < 3; ++i)
            {
                std::this_thread::sleep_for(5ms);
                Produce({i});
            }
        });
    EXPECT_TRUE(sink_.WaitForFrames(3, kLongWait));
    producer.join();
    EXPECT_EQ(sink_.DeliveredCount(), 3U);
}

TEST_F(HostFrameSinkTest, SignalLostIsCountedAndWaitable)
{
    int callbacks = 0;
    sink_.SetSignalLostCallback([&] { ++callbacks; });
    EXPECT_FALSE(sink_.WaitForSignalLost(1, kShortWait));

    std::thread module([this] { sink_.ReportSignalLost(); });
    EXPECT_TRUE(sink_.WaitForSignalLost(1, kLongWait));
    module.join();
    sink_.ReportSignalLost();
    EXPECT_EQ(sink_.SignalLostCount(), 2U);
    EXPECT_EQ(callbacks, 2);
}

TEST_F(HostFrameSinkTest, ConcurrentDeliveriesKeepEveryFrameInEachProducersOrder)
{
    constexpr int kProducers = 6;
    constexpr int kFramesEach = 300;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
    {
        producers.emplace_back(
            [this, p]
            {
                const std::string owner = "stream " + std::to_string(p);
                for (int i = 0; i < kFramesEach; ++i)
                {
                    Produce({static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(i >> 8),
                             static_cast<std::uint8_t>(i & 0xFF)},
                            owner.c_str());
                }
            });
    }
    for (auto& producer : producers)
    {
        producer.join();
    }

    const auto frames = sink_.Frames();
    ASSERT_THAT(frames, SizeIs(kProducers * kFramesEach));
    std::map<std::string, int> nextIndex;
    for (const auto& frame : frames)
    {
        ASSERT_THAT(frame.data, SizeIs(3));
        EXPECT_EQ(frame.ownerName, "stream " + std::to_string(frame.data[0]));
        const int index = frame.data[1] << 8 | frame.data[2];
        EXPECT_EQ(index, nextIndex[frame.ownerName]++) << frame.ownerName;
    }
    EXPECT_EQ(allocator_.GetOutstandingCount(), 0U);
}

class HostFrameSinkMisuseTest : public ::testing::Test
{
protected:
    std::shared_ptr<MisuseMonitor> misuse_ = std::make_shared<MisuseMonitor>();
    HostMediaAllocator allocator_{misuse_};
    HostFrameSink sink_{misuse_};
};

TEST_F(HostFrameSinkMisuseTest, NullOrReleasedBufferIsReportedOnceAndRefused)
{
    EXPECT_FALSE(sink_.DeliverFrame(nullptr));
    IIPMediaBuffer* buffer = allocator_.AllocateBuffer(ipcapture::kTypeCodeJpeg, 8, "late");
    allocator_.ReleaseBuffer(buffer);
    EXPECT_FALSE(sink_.DeliverFrame(buffer));

    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("null buffer"), HasSubstr("delivered after its release")));
    EXPECT_EQ(sink_.DeliveredCount(), 0U);
}

TEST_F(HostFrameSinkMisuseTest, WritePastTheCapacityIsReportedAtDeliveryAndOnlyOnce)
{
    IIPMediaBuffer* buffer = allocator_.AllocateBuffer(ipcapture::kTypeCodeJpeg, 8, "overrun");
    buffer->GetData()[8 + HostMediaBuffer::kGuardBytes - 1] = 0;
    sink_.DeliverFrame(buffer);
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("wrote past the capacity")));
    allocator_.ReleaseBuffer(buffer);
    EXPECT_THAT(misuse_->Misuses(), SizeIs(1));
}

TEST_F(HostFrameSinkMisuseTest, ReservedSlotIsReported)
{
    sink_.ReservedSlot2();
    EXPECT_THAT(misuse_->Misuses(), ElementsAre(HasSubstr("IIPFrameSink slot 2")));
}
}
}
