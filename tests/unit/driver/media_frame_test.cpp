#include <gtest/gtest.h>

#include <cstring>

#include "core/media_frame.h"
#include "support/host_fixture.h"

namespace kestrav
{
namespace
{
TEST(ImageSizeClass, FollowsTheWidthBands)
{
    EXPECT_EQ(ImageSizeClass(176, 144), 1u);
    EXPECT_EQ(ImageSizeClass(352, 288), 2u);
    EXPECT_EQ(ImageSizeClass(320, 240), 2u);
    EXPECT_EQ(ImageSizeClass(704, 240), 3u);
    EXPECT_EQ(ImageSizeClass(704, 576), 4u);
    EXPECT_EQ(ImageSizeClass(1920, 1080), 4u);
    EXPECT_EQ(ImageSizeClass(199, 10), 1u);
    EXPECT_EQ(ImageSizeClass(200, 10), 2u);
    EXPECT_EQ(ImageSizeClass(400, 200), 4u) << "exactly twice as wide is not wide";
    EXPECT_EQ(ImageSizeClass(1024, 100), 4u);
}

class MediaFrame : public testing::HostFixture
{
protected:
    CMediaFrame FilledFrame(std::uint32_t typeCode, const std::string& payload)
    {
        CMediaFrame frame = CMediaFrame::Allocate(&kit.Allocator(), typeCode, 1024, "rtsph264_main");
        EXPECT_TRUE(frame);
        if (frame)
            std::memcpy(frame.Data().data(), payload.data(), payload.size());
        FrameDescription description;
        description.width = 704;
        description.height = 576;
        description.dataSize = static_cast<std::uint32_t>(payload.size());
        description.typeCode = ipcapture::kTypeCodeI264;
        description.timestamp = {2026, 12, 1, 7, 20, 46, 17, 123};
        frame.Describe(description);
        return frame;
    }

    std::function<bool(ipcapture::IIPMediaBuffer*)> ToSink()
    {
        return [this](ipcapture::IIPMediaBuffer* buffer) { return kit.Sink().DeliverFrame(buffer); };
    }
};

TEST_F(MediaFrame, ADeliveredFrameCarriesEverythingAndIsReleased)
{
    CMediaFrame frame = FilledFrame(ipcapture::kTypeCodeH264, "access unit");
    EXPECT_EQ(frame.Data().size(), 1024u);
    EXPECT_TRUE(frame.Deliver(ToSink()));
    EXPECT_FALSE(frame) << "released after delivery";

    const auto delivered = kit.Sink().LastFrame();
    ASSERT_TRUE(delivered);
    EXPECT_EQ(delivered->typeCode, ipcapture::kTypeCodeI264);
    EXPECT_EQ(delivered->width, 704u);
    EXPECT_EQ(delivered->height, 576u);
    EXPECT_EQ(delivered->sizeClass, 4u);
    EXPECT_EQ(std::string(delivered->data.begin(), delivered->data.end()), "access unit");
    ASSERT_TRUE(delivered->timestamp);
    EXPECT_EQ(delivered->timestamp->wMilliseconds, 123);
    EXPECT_EQ(delivered->ownerName, "rtsph264_main");
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(MediaFrame, ARefusedFrameIsStillReleased)
{
    kit.Sink().SetAccept(false);
    CMediaFrame frame = FilledFrame(ipcapture::kTypeCodeJpeg, "picture");
    EXPECT_FALSE(frame.Deliver(ToSink()));
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(MediaFrame, AThrowingReceiverStillReleasesTheBuffer)
{
    {
        CMediaFrame frame = FilledFrame(ipcapture::kTypeCodeJpeg, "picture");
        EXPECT_THROW(frame.Deliver([](ipcapture::IIPMediaBuffer*) -> bool { throw std::runtime_error("x"); }),
                     std::runtime_error);
    }
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(MediaFrame, AnUndeliveredFrameIsReleasedWhenDropped)
{
    {
        CMediaFrame frame = FilledFrame(ipcapture::kTypeCodeJpeg, "picture");
        CMediaFrame moved = std::move(frame);
        EXPECT_FALSE(frame);
        EXPECT_TRUE(moved);
    }
    EXPECT_EQ(kit.Allocator().GetOutstandingCount(), 0u);
}

TEST_F(MediaFrame, NoAllocatorOrNoBufferProducesNothing)
{
    EXPECT_FALSE(CMediaFrame::Allocate(nullptr, ipcapture::kTypeCodeJpeg, 10, "x"));
    kit.Allocator().FailNextAllocations(1);
    EXPECT_FALSE(CMediaFrame::Allocate(&kit.Allocator(), ipcapture::kTypeCodeJpeg, 10, "x"));
    EXPECT_TRUE(CMediaFrame::Allocate(&kit.Allocator(), ipcapture::kTypeCodeJpeg, 10, "x"));
}

TEST_F(MediaFrame, TheDataSizeNeverExceedsTheCapacity)
{
    CMediaFrame frame = CMediaFrame::Allocate(&kit.Allocator(), ipcapture::kTypeCodeJpeg, 16, "x");
    FrameDescription description;
    description.dataSize = 4096;
    frame.Describe(description);
    EXPECT_TRUE(frame.Deliver(ToSink()));
    EXPECT_EQ(kit.Sink().LastFrame()->data.size(), 16u);
}

TEST_F(MediaFrame, AMotionRecordIsMarkedAndKeepsItsAllocationCode)
{
    CMediaFrame frame = CMediaFrame::Allocate(&kit.Allocator(), ipcapture::kTypeCodeMotion, 1024, "CBaseMotionChannel");
    FrameDescription description;
    description.width = 320;
    description.height = 240;
    description.dataSize = 2;
    frame.Describe(description);
    frame.Mark();
    EXPECT_TRUE(frame.Deliver(ToSink()));
    const auto delivered = kit.Sink().LastFrame();
    EXPECT_TRUE(delivered->marked);
    EXPECT_EQ(delivered->typeCode, ipcapture::kTypeCodeMotion);
    EXPECT_EQ(delivered->sizeClass, 2u);
}
}
}
