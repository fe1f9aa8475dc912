#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "temporary_directory.h"
#include "tools/host/frame_queue.h"
#include "tools/host/frame_writers.h"

namespace kestrav::hostbench
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

QueuedFrame Frame(std::size_t size, bool startsDecoding, std::uint8_t fill = 0)
{
    return {Bytes(size, fill), startsDecoding};
}

Bytes ReadFile(const std::filesystem::path& file)
{
    std::ifstream input(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}

// A picture: start code and a slice.
Bytes Picture(std::uint8_t sliceByte)
{
    return {0x00, 0x00, 0x01, 0x65, sliceByte, sliceByte};
}

// An access unit as the module delivers it: the picture, then the delimiter that opens the next one.
Bytes AccessUnit(std::uint8_t sliceByte)
{
    return {0x00, 0x00, 0x01, 0x65, sliceByte, sliceByte, 0x00, 0x00, 0x01, 0x09, 0x30};
}

TEST(HostBenchFrameQueue, AFullQueueDropsUntilAFrameThatStartsDecoding)
{
    FrameQueue queue(250);
    ASSERT_EQ(queue.Push(Frame(200, true, 1)), FrameQueue::PushResult::Queued);
    EXPECT_EQ(queue.Push(Frame(100, false, 2)), FrameQueue::PushResult::DroppedFull);
    ASSERT_TRUE(queue.Pop());
    // Room again, but this frame refers to the one just lost.
    EXPECT_EQ(queue.Push(Frame(10, false, 3)), FrameQueue::PushResult::DroppedUntilKeyFrame);
    EXPECT_EQ(queue.Push(Frame(10, true, 4)), FrameQueue::PushResult::Queued);
    EXPECT_EQ(queue.Push(Frame(10, false, 5)), FrameQueue::PushResult::Queued);
    EXPECT_EQ(queue.Dropped(), 2u);
    EXPECT_EQ(queue.Pop()->data.front(), 4);
    EXPECT_EQ(queue.Pop()->data.front(), 5);
}

TEST(HostBenchFrameQueue, AFrameLargerThanTheLimitStillPassesAnEmptyQueue)
{
    FrameQueue queue(100);
    EXPECT_EQ(queue.Push(Frame(1000, true)), FrameQueue::PushResult::Queued);
    EXPECT_EQ(queue.Push(Frame(1, true)), FrameQueue::PushResult::DroppedFull);
    EXPECT_EQ(queue.Pop()->data.size(), 1000u);
    EXPECT_EQ(queue.Push(Frame(1, true)), FrameQueue::PushResult::Queued);
}

TEST(HostBenchFrameQueue, CloseHandsOutWhatIsQueuedThenEndsAWaitingReader)
{
    FrameQueue queue(1000);
    queue.Push(Frame(10, true));
    queue.Close();
    EXPECT_EQ(queue.Push(Frame(10, true)), FrameQueue::PushResult::Closed);
    EXPECT_TRUE(queue.Pop());
    EXPECT_FALSE(queue.Pop());

    FrameQueue waiting(1000);
    std::optional<QueuedFrame> popped = QueuedFrame{};
    std::thread reader([&] { popped = waiting.Pop(); });
    waiting.Close();
    reader.join();
    EXPECT_FALSE(popped);
}

TEST(HostBenchFrameQueue, EveryFrameIsEitherPoppedOrCountedAsDropped)
{
    FrameQueue queue(64 * 1024);
    constexpr int kFrames = 20000;
    std::uint64_t popped = 0;
    std::thread reader(
        [&]
        {
            while (queue.Pop())
                ++popped;
        });
    for (int i = 0; i < kFrames; ++i)
        queue.Push(Frame(1000, i % 25 == 0));
    queue.Close();
    reader.join();
    EXPECT_EQ(popped + queue.Dropped(), static_cast<std::uint64_t>(kFrames));
    EXPECT_LE(queue.PeakBytes(), 64u * 1024u);
}

TEST(HostBenchTrailingDelimiter, OnlyAnAccessUnitDelimiterAtTheVeryEndCounts)
{
    EXPECT_EQ(TrailingDelimiterSize(AccessUnit(7)), 5u);
    // nal_ref_idc bits do not change the type.
    EXPECT_EQ(TrailingDelimiterSize(Bytes{0x00, 0x00, 0x01, 0x29, 0x10}), 5u);
    EXPECT_EQ(TrailingDelimiterSize(Bytes{0x00, 0x00, 0x01, 0x09, 0x30, 0x00}), 0u);
    EXPECT_EQ(TrailingDelimiterSize(Bytes{0x00, 0x00, 0x01, 0x65, 0x30}), 0u);
    EXPECT_EQ(TrailingDelimiterSize(Bytes{0x00, 0x01, 0x09, 0x30}), 0u);
    EXPECT_EQ(TrailingDelimiterSize(Bytes{}), 0u);
}

TEST(HostBenchAnnexBStreamWriter, TheFileEndsWithTheLastPictureNotWithAnEmptyAccessUnit)
{
    TemporaryDirectory directory;
    const std::filesystem::path file = directory.Path() / "s.h264";
    AnnexBStreamWriter writer(file);
    ASSERT_TRUE(writer.Open());
    ASSERT_TRUE(writer.Write(AccessUnit(1)));
    ASSERT_TRUE(writer.Write(AccessUnit(2)));
    // A frame without a delimiter is written whole.
    ASSERT_TRUE(writer.Write(Bytes{0x00, 0x00, 0x01, 0x41, 0x03}));
    ASSERT_TRUE(writer.Write(AccessUnit(4)));
    ASSERT_TRUE(writer.Finish());

    Bytes expected;
    for (const Bytes& part : {AccessUnit(1), AccessUnit(2), Bytes{0x00, 0x00, 0x01, 0x41, 0x03}, Picture(4)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(ReadFile(file), expected);
    EXPECT_EQ(writer.Target(), file);
}

TEST(HostBenchConcatenatingWriter, PicturesFollowOneAnotherAndAnEarlierFileIsReplaced)
{
    TemporaryDirectory directory;
    const std::filesystem::path file = directory.Path() / "s.mjpeg";
    std::ofstream(file) << "an earlier, longer recording";
    ConcatenatingWriter writer(file);
    ASSERT_TRUE(writer.Open());
    ASSERT_TRUE(writer.Write(Bytes{0xFF, 0xD8, 0x01, 0xFF, 0xD9}));
    ASSERT_TRUE(writer.Write(Bytes{0xFF, 0xD8, 0x02, 0xFF, 0xD9}));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(file), (Bytes{0xFF, 0xD8, 0x01, 0xFF, 0xD9, 0xFF, 0xD8, 0x02, 0xFF, 0xD9}));
}

TEST(HostBenchPictureFilesWriter, NumbersThePicturesAndClearsThoseOfAnEarlierRun)
{
    TemporaryDirectory directory;
    const std::filesystem::path pictures = directory.Path() / "ch0-live-jpeg";
    std::filesystem::create_directories(pictures);
    std::ofstream(pictures / "000007.jpg") << "old";
    std::ofstream(pictures / "notes.txt") << "not ours";

    PictureFilesWriter writer(pictures);
    ASSERT_TRUE(writer.Open());
    EXPECT_FALSE(std::filesystem::exists(pictures / "000007.jpg"));
    EXPECT_TRUE(std::filesystem::exists(pictures / "notes.txt"));
    ASSERT_TRUE(writer.Write(Bytes{0xFF, 0xD8, 0x01}));
    ASSERT_TRUE(writer.Write(Bytes{0xFF, 0xD8, 0x02}));
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(ReadFile(pictures / "000001.jpg"), (Bytes{0xFF, 0xD8, 0x01}));
    EXPECT_EQ(ReadFile(pictures / "000002.jpg"), (Bytes{0xFF, 0xD8, 0x02}));
    EXPECT_EQ(PictureFilesWriter::PictureName(1234567), "1234567.jpg");
}

TEST(HostBenchStreamWriters, AreChosenByCodecAndNamedAfterTheStream)
{
    TemporaryDirectory directory;
    std::string error;
    StreamRequest h264;
    StreamRequest jpeg;
    jpeg.codec = StreamCodec::Jpeg;
    jpeg.kind = StreamKind::Live;

    EXPECT_EQ(OpenStreamWriter(h264, directory.Path(), true, error)->Target(), directory.Path() / "ch0-main-h264.h264")
        << "--jpeg-files leaves H.264 alone";
    EXPECT_EQ(OpenStreamWriter(jpeg, directory.Path(), false, error)->Target(),
              directory.Path() / "ch0-live-jpeg.mjpeg");
    EXPECT_EQ(OpenStreamWriter(jpeg, directory.Path(), true, error)->Target(), directory.Path() / "ch0-live-jpeg");
    EXPECT_TRUE(std::filesystem::is_directory(directory.Path() / "ch0-live-jpeg"));
    EXPECT_TRUE(error.empty()) << error;
}

TEST(HostBenchStreamWriters, AnOutputThatCannotBeCreatedIsReportedWithItsPath)
{
    TemporaryDirectory directory;
    // A file where the writers need a directory.
    const std::filesystem::path blocked = directory.Path() / "blocked";
    std::ofstream(blocked) << "a file";
    StreamRequest jpeg;
    jpeg.codec = StreamCodec::Jpeg;

    std::string error;
    EXPECT_EQ(OpenStreamWriter(StreamRequest{}, blocked, false, error), nullptr);
    EXPECT_NE(error.find((blocked / "ch0-main-h264.h264").string()), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(OpenStreamWriter(jpeg, blocked, true, error), nullptr);
    EXPECT_NE(error.find("ch0-main-jpeg"), std::string::npos) << error;
}

TEST(HostBenchStreamWriters, AFailedWriteIsKeptAndRefusesTheRest)
{
    // /dev/full accepts the open and fails every write that reaches it.
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    ConcatenatingWriter writer("/dev/full");
    ASSERT_TRUE(writer.Open());
    const Bytes big(1 << 20, 0xAB);
    bool written = writer.Write(big);
    written = written && writer.Write(big);
    EXPECT_FALSE(written && writer.Finish());
    EXPECT_NE(writer.Error().find("/dev/full"), std::string::npos) << writer.Error();
    EXPECT_FALSE(writer.Write(Bytes{1}));
    EXPECT_FALSE(writer.Finish());
}
}
}
