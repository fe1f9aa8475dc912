// The hand-over of frames from the module's delivering threads to a stream's writer thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrav::hostbench
{
struct QueuedFrame
{
    std::vector<std::uint8_t> data;
    // Where a decoder can start: an H.264 access unit with its parameter sets, or any JPEG picture.
    bool startsDecoding = true;
};

// Delivery must never wait for the disk: the module delivers on its packet thread, and a host that
// holds it up makes the module lose packets. So the queue is bounded by bytes and a frame that does
// not fit is dropped and counted, not waited for. A frame always fits into an empty queue, so one
// large frame cannot starve a stream; the allocator bounds how large that is.
//
// After a drop, frames that do not start decoding are dropped too until one that does: an H.264
// file then goes on at the next key frame instead of carrying frames that refer to a lost one.
class FrameQueue
{
public:
    enum class PushResult
    {
        Queued,
        DroppedFull,
        DroppedUntilKeyFrame,
        Closed,
    };

    explicit FrameQueue(std::size_t byteLimit) : byteLimit_(byteLimit) {}

    PushResult Push(QueuedFrame frame);
    // Waits for a frame; none once the queue is closed and empty.
    std::optional<QueuedFrame> Pop();
    // Refuses further frames; frames already queued are still popped.
    void Close();

    std::uint64_t Dropped() const;
    // The most bytes queued at one time.
    std::size_t PeakBytes() const;

private:
    const std::size_t byteLimit_;
    mutable std::mutex mutex_;
    std::condition_variable available_;
    std::deque<QueuedFrame> frames_;
    std::size_t bytes_ = 0;
    std::size_t peakBytes_ = 0;
    std::uint64_t dropped_ = 0;
    bool waitingForKeyFrame_ = false;
    bool closed_ = false;
};
}
