#include "tools/host/stream_recorder.h"

#include <utility>

#include <brantel/media.h>

#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
void Configure(hostkit::HostChannelParams& params, const StreamRequest& request)
{
    params.Format().SetCodec(CodecCode(request.codec));
    params.Format().Resolution().Set(request.width, request.height);
    params.Recording().SetFrameRate(request.frameRate);
    params.Recording().SetQuality(request.quality);
    params.Recording().SetMotionDetection(false);
}
}

StreamRecorder::StreamRecorder(const StreamRequest& request, std::unique_ptr<FrameWriter> writer,
                               std::shared_ptr<hostkit::MisuseMonitor> misuse, Notify notify, std::size_t queueBytes)
    : request_(request), name_(request.Name()), notify_(std::move(notify)), created_(std::chrono::steady_clock::now()),
      stats_(request.frameRate), queue_(queueBytes), writer_(std::move(writer)), sink_(misuse), params_(misuse)
{
    Configure(params_, request_);
    // The sink would keep a copy of every frame; the bench keeps counters instead.
    sink_.SetFrameLimit(0);
    sink_.SetFrameCallback([this](const hostkit::DeliveredFrame& frame) { OnFrame(frame); });
    sink_.SetSignalLostCallback([this] { OnSignalLost(); });
    if (writer_)
        writerThread_ = std::thread([this] { WriteFrames(); });
}

StreamRecorder::~StreamRecorder()
{
    Finish();
}

void StreamRecorder::SetStartAccepted(bool accepted)
{
    startAccepted_ = accepted;
}

void StreamRecorder::SetMotionWanted()
{
    motionWanted_ = true;
    params_.Recording().SetMotionDetection(true);
}

void StreamRecorder::SetStopped()
{
    stopped_ = true;
}

void StreamRecorder::Finish()
{
    std::call_once(finished_,
                   [this]
                   {
                       queue_.Close();
                       if (writerThread_.joinable())
                           writerThread_.join();
                       if (writer_ && !writer_->Finish())
                           notify_(name_ + ": " + writer_->Error());
                   });
}

StreamState StreamRecorder::State(SteadyTime now) const
{
    StateInputs inputs;
    inputs.startAccepted = startAccepted_;
    inputs.stopped = stopped_;
    return StateOf(inputs, stats_.Snapshot(), now);
}

StreamResult StreamRecorder::Result() const
{
    StreamResult result;
    result.request = request_;
    result.startAccepted = startAccepted_;
    result.counters = stats_.Snapshot();
    result.droppedFrames = queue_.Dropped();
    result.writtenFrames = writtenFrames_;
    result.writtenBytes = writtenBytes_;
    result.motionWanted = motionWanted_;
    result.motionRecords = motionRecords_;
    if (writer_)
    {
        result.target = writer_->Target();
        result.writeError = writer_->Error();
    }
    return result;
}

// On the module's delivering thread: count, copy into the queue, return. No disk, no waiting.
void StreamRecorder::OnFrame(const hostkit::DeliveredFrame& frame)
{
    if (frame.typeCode == ipcapture::kTypeCodeMotion)
    {
        OnMotionRecord(frame);
        return;
    }
    const SteadyTime now = std::chrono::steady_clock::now();
    FrameFacts facts;
    facts.bytes = frame.data.size();
    facts.keyFrame = frame.typeCode == ipcapture::kTypeCodeH264;
    facts.width = frame.width;
    facts.height = frame.height;
    facts.captureTime = frame.timestamp;
    facts.arrival = now;
    if (stats_.OnFrame(facts) == 1)
    {
        notify_(name_ + ": first frame, " + std::to_string(frame.width) + "x" + std::to_string(frame.height) + ", " +
                ByteSize(frame.data.size()) + ", " + Fixed(std::chrono::duration<double>(now - created_).count(), 1) +
                " s after start");
    }

    if (!writer_)
        return;
    QueuedFrame queued;
    queued.data = frame.data;
    queued.startsDecoding = request_.codec == StreamCodec::Jpeg || facts.keyFrame;
    if (queue_.Push(std::move(queued)) == FrameQueue::PushResult::DroppedFull)
        notify_(name_ + ": the disk does not keep up, frames dropped until the next key frame");
}

// A motion record is two bytes: 1, then 1 for motion or 0 for none. It is no video frame and goes to no file.
void StreamRecorder::OnMotionRecord(const hostkit::DeliveredFrame& frame)
{
    ++motionRecords_;
    const bool motion = frame.data.size() >= 2 && frame.data[1] != 0;
    notify_(name_ + ": motion " + (motion ? "on" : "off"));
}

void StreamRecorder::OnSignalLost()
{
    stats_.OnSignalLost(std::chrono::steady_clock::now());
    notify_(name_ + ": the module reports the signal lost");
}

void StreamRecorder::WriteFrames()
{
    bool failed = false;
    while (std::optional<QueuedFrame> frame = queue_.Pop())
    {
        // After a failure the queue is still drained, so delivery never finds it full for that reason.
        if (failed)
            continue;
        if (!writer_->Write(frame->data))
        {
            failed = true;
            notify_(name_ + ": " + writer_->Error() + "; the stream is no longer written");
            continue;
        }
        ++writtenFrames_;
        writtenBytes_ += frame->data.size();
    }
}
}
