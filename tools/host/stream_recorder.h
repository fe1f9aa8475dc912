// One recorded stream: the host's frame sink and channel parameters for it, its counters, and the
// writer thread that takes its frames to disk (none when the frames are only counted).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "hostkit/host_channel_params.h"
#include "hostkit/host_frame_sink.h"
#include "hostkit/misuse_monitor.h"
#include "tools/host/command_line.h"
#include "tools/host/frame_queue.h"
#include "tools/host/frame_writers.h"
#include "tools/host/stream_stats.h"

namespace kestrav::hostbench
{
struct StreamResult
{
    StreamRequest request;
    bool startAccepted = false;
    StreamCounters counters;
    // Frames the writer could not keep up with.
    std::uint64_t droppedFrames = 0;
    std::uint64_t writtenFrames = 0;
    std::uint64_t writtenBytes = 0;
    // Started with motion detection; then its motion records are counted here, apart from the frames.
    bool motionWanted = false;
    std::uint64_t motionRecords = 0;
    std::filesystem::path target;
    std::string writeError;
};

class StreamRecorder
{
public:
    // Seconds of a high-rate stream: enough to ride out a slow disk, little enough for any machine.
    static constexpr std::size_t kDefaultQueueBytes = 64U * 1024U * 1024U;
    // Lines for the console, from the delivering or the writer thread.
    using Notify = std::function<void(const std::string& line)>;

    // Without a writer the frames are counted and dropped: no queue, no writer thread.
    StreamRecorder(const StreamRequest& request, std::unique_ptr<FrameWriter> writer,
                   std::shared_ptr<hostkit::MisuseMonitor> misuse, Notify notify,
                   std::size_t queueBytes = kDefaultQueueBytes);
    ~StreamRecorder();
    StreamRecorder(const StreamRecorder&) = delete;
    StreamRecorder& operator=(const StreamRecorder&) = delete;

    const StreamRequest& Request() const { return request_; }
    hostkit::HostFrameSink& Sink() { return sink_; }
    // Filled from the request.
    hostkit::HostChannelParams& Params() { return params_; }

    void SetStartAccepted(bool accepted);
    // Before the start: the stream asks for motion detection.
    void SetMotionWanted();
    void SetStopped();
    // Writes what is queued and closes the output; frames delivered afterwards are not kept.
    void Finish();

    StreamCounters Counters() const { return stats_.Snapshot(); }
    StreamState State(SteadyTime now) const;
    StreamResult Result() const;

private:
    void OnFrame(const hostkit::DeliveredFrame& frame);
    void OnMotionRecord(const hostkit::DeliveredFrame& frame);
    void OnSignalLost();
    void WriteFrames();

    const StreamRequest request_;
    const std::string name_;
    const Notify notify_;
    const SteadyTime created_;
    StreamStats stats_;
    FrameQueue queue_;
    std::unique_ptr<FrameWriter> writer_;
    hostkit::HostFrameSink sink_;
    hostkit::HostChannelParams params_;
    std::atomic<bool> startAccepted_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> motionWanted_{false};
    std::atomic<std::uint64_t> motionRecords_{0};
    std::atomic<std::uint64_t> writtenFrames_{0};
    std::atomic<std::uint64_t> writtenBytes_{0};
    std::once_flag finished_;
    std::thread writerThread_;
};
}
