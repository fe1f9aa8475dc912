#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "hostkit/host_media_allocator.h"
#include "tools/host/stream_recorder.h"
#include "tools/host/summary.h"

namespace kestrav::hostbench
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

// A disk that takes frames only once the test opens it, and keeps what it was given.
class GatedWriter final : public FrameWriter
{
public:
    bool Write(std::span<const std::uint8_t> frame) override
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
        if (failAfter_ && written_.size() >= *failAfter_)
            return Fail("disk full");
        written_.emplace_back(frame.begin(), frame.end());
        return true;
    }
    bool Finish() override
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        return Error().empty();
    }
    std::filesystem::path Target() const override { return "/gated"; }

    void Open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void FailAfter(std::size_t frames) { failAfter_ = frames; }
    std::vector<Bytes> Written() const
    {
        std::lock_guard lock(mutex_);
        return written_;
    }
    bool Finished() const
    {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    bool finished_ = false;
    std::optional<std::size_t> failAfter_;
    std::vector<Bytes> written_;
};

class HostBenchStreamRecorder : public ::testing::Test
{
protected:
    HostBenchStreamRecorder()
    {
        misuse->SetMisuseHandler([](const std::string& m) { ADD_FAILURE() << "misuse: " << m; });
    }

    std::unique_ptr<StreamRecorder> MakeRecorder(const char* text, std::size_t queueBytes)
    {
        auto writer = std::make_unique<GatedWriter>();
        gate = writer.get();
        return std::make_unique<StreamRecorder>(
            ParseStreamRequest(text), std::move(writer), misuse,
            [this](const std::string& line)
            {
                std::lock_guard lock(linesMutex);
                lines.push_back(line);
            },
            queueBytes);
    }

    // What the module does for one frame: allocate, fill, stamp, deliver, release.
    bool Deliver(StreamRecorder& recorder, std::uint32_t typeCode, std::uint8_t fill, std::size_t size)
    {
        ipcapture::IIPMediaBuffer* buffer =
            allocator.AllocateBuffer(typeCode, static_cast<std::uint32_t>(size), "BrantelIPCapture::RecStream");
        EXPECT_NE(buffer, nullptr);
        std::memset(buffer->GetData(), fill, size);
        buffer->SetDataSize(static_cast<std::uint32_t>(size));
        buffer->SetTypeCode(typeCode);
        buffer->SetWidth(704);
        buffer->SetHeight(576);
        ipcapture::SystemTime time;
        time.wYear = 2024;
        time.wHour = 8;
        time.wMilliseconds = fill;
        buffer->SetTimestamp(&time);
        const bool accepted = recorder.Sink().DeliverFrame(buffer);
        allocator.ReleaseBuffer(buffer);
        return accepted;
    }

    bool Logged(const std::string& part)
    {
        std::lock_guard lock(linesMutex);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }

    std::shared_ptr<hostkit::MisuseMonitor> misuse = std::make_shared<hostkit::MisuseMonitor>();
    hostkit::HostMediaAllocator allocator{misuse};
    GatedWriter* gate = nullptr;
    std::mutex linesMutex;
    std::vector<std::string> lines;
};

TEST_F(HostBenchStreamRecorder, TheChannelParametersCarryTheRequest)
{
    auto recorder = MakeRecorder("jpeg,kind=live,size=1280x720,fps=12,quality=40", 1 << 20);
    hostkit::HostChannelParams& params = recorder->Params();
    EXPECT_EQ(params.GetVideoFormat()->GetCodec(), 1) << "the factory's code for JPEG";
    EXPECT_EQ(params.GetVideoFormat()->GetResolution()->GetWidth(), 1280);
    EXPECT_EQ(params.GetVideoFormat()->GetResolution()->GetHeight(), 720);
    EXPECT_EQ(params.GetRecordingSettings()->GetFrameRateCode(), 0x7000 | 12);
    EXPECT_EQ(params.GetRecordingSettings()->GetQuality(), 40);
    EXPECT_EQ(params.GetRecordingSettings()->GetMotionDetection(), 0);
    const auto h264 = MakeRecorder("h264", 1);
    EXPECT_EQ(h264->Params().GetVideoFormat()->GetCodec(), 3);
}

TEST_F(HostBenchStreamRecorder, DeliveredFramesAreCountedAndWrittenInOrder)
{
    auto recorder = MakeRecorder("h264", 1 << 20);
    recorder->SetStartAccepted(true);
    gate->Open();
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeH264, 1, 100));
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeI264, 2, 50));
    recorder->Finish();

    EXPECT_EQ(gate->Written(), (std::vector<Bytes>{Bytes(100, 1), Bytes(50, 2)}));
    EXPECT_TRUE(gate->Finished());
    const StreamResult result = recorder->Result();
    EXPECT_EQ(result.counters.frames, 2u);
    EXPECT_EQ(result.counters.keyFrames, 1u);
    EXPECT_EQ(result.counters.bytes, 150u);
    EXPECT_EQ(result.counters.width, 704u);
    ASSERT_TRUE(result.counters.lastCaptureTime);
    EXPECT_EQ(result.counters.lastCaptureTime->wMilliseconds, 2);
    EXPECT_EQ(result.writtenFrames, 2u);
    EXPECT_EQ(result.writtenBytes, 150u);
    EXPECT_EQ(result.target, "/gated");
    EXPECT_TRUE(Logged("ch0-main-h264: first frame, 704x576"));
    EXPECT_EQ(allocator.GetOutstandingCount(), 0u);
}

// Motion records reach the same sink as the video; they are printed and counted, never written or counted as
// frames.
TEST_F(HostBenchStreamRecorder, MotionRecordsArePrintedAndCountedApartFromTheFrames)
{
    auto recorder = MakeRecorder("h264", 1 << 20);
    recorder->SetMotionWanted();
    EXPECT_EQ(recorder->Params().GetRecordingSettings()->GetMotionDetection(), 1);
    recorder->SetStartAccepted(true);
    gate->Open();
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeMotion, 1, 2));
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeH264, 1, 100));
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeMotion, 0, 2));
    recorder->Finish();

    EXPECT_EQ(gate->Written(), (std::vector<Bytes>{Bytes(100, 1)}));
    const StreamResult result = recorder->Result();
    EXPECT_EQ(result.counters.frames, 1u);
    EXPECT_TRUE(result.motionWanted);
    EXPECT_EQ(result.motionRecords, 2u);
    EXPECT_TRUE(Logged("ch0-main-h264: motion on"));
    EXPECT_TRUE(Logged("ch0-main-h264: motion off"));
    RecordingOutcome outcome;
    outcome.streams = {result};
    const std::vector<std::string> summary = FormatSummary(outcome);
    EXPECT_NE(std::find(summary.begin(), summary.end(), "    2 motion records"), summary.end());
}

TEST_F(HostBenchStreamRecorder, ASlowDiskNeverHoldsUpDeliveryAndTheFileResumesAtAKeyFrame)
{
    auto recorder = MakeRecorder("h264", 1000);
    recorder->SetStartAccepted(true);
    // The disk does not move: every delivery must still return, the queue keeps at most 1000 bytes.
    ASSERT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeH264, 1, 300));
    for (std::uint8_t i = 2; i <= 10; ++i)
        EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeI264, i, 300));
    EXPECT_TRUE(Logged("the disk does not keep up"));

    gate->Open();
    // Queued frames drain; the frames after the loss wait for the next key frame.
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeI264, 11, 10));
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeH264, 12, 10));
    EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeI264, 13, 10));
    recorder->Finish();

    const std::vector<Bytes> written = gate->Written();
    const StreamResult result = recorder->Result();
    EXPECT_EQ(result.counters.frames, 13u);
    EXPECT_EQ(result.writtenFrames + result.droppedFrames, 13u);
    ASSERT_GE(written.size(), 4u);
    EXPECT_LE(written.size(), 6u) << "one frame at the disk and three in the queue at most, then two";
    EXPECT_EQ(written.front().front(), 1);
    // The frames before the loss are consecutive, and the file goes on at the key frame.
    for (std::size_t i = 0; i + 2 < written.size(); ++i)
        EXPECT_EQ(written[i].front(), i + 1);
    EXPECT_EQ(written[written.size() - 2].front(), 12);
    EXPECT_EQ(written.back().front(), 13);
}

TEST_F(HostBenchStreamRecorder, AWriteFailureStopsWritingButNotCounting)
{
    auto recorder = MakeRecorder("jpeg", 1 << 20);
    recorder->SetStartAccepted(true);
    gate->FailAfter(1);
    gate->Open();
    for (std::uint8_t i = 1; i <= 5; ++i)
        EXPECT_TRUE(Deliver(*recorder, ipcapture::kTypeCodeJpeg, i, 20));
    recorder->Finish();

    const StreamResult result = recorder->Result();
    EXPECT_EQ(result.counters.frames, 5u);
    EXPECT_EQ(result.writtenFrames, 1u);
    EXPECT_EQ(result.writeError, "disk full");
    EXPECT_TRUE(Logged("ch0-main-jpeg: disk full; the stream is no longer written"));
}

TEST_F(HostBenchStreamRecorder, StateFollowsTheStartFramesSignalLossAndStop)
{
    auto recorder = MakeRecorder("h264", 1 << 20);
    gate->Open();
    const auto now = [] { return std::chrono::steady_clock::now(); };
    EXPECT_EQ(recorder->State(now()), StreamState::StartFailed);
    recorder->SetStartAccepted(true);
    EXPECT_EQ(recorder->State(now()), StreamState::Starting);
    Deliver(*recorder, ipcapture::kTypeCodeH264, 1, 10);
    EXPECT_EQ(recorder->State(now()), StreamState::Receiving);
    recorder->Sink().ReportSignalLost();
    EXPECT_EQ(recorder->State(now()), StreamState::SignalLost);
    EXPECT_TRUE(Logged("ch0-main-h264: the module reports the signal lost"));
    EXPECT_EQ(recorder->Result().counters.signalLostReports, 1u);
    recorder->SetStopped();
    EXPECT_EQ(recorder->State(now()), StreamState::Stopped);
}
}
}
