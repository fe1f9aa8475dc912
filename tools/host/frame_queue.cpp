#include "tools/host/frame_queue.h"

#include <algorithm>
#include <utility>

namespace kestrav::hostbench
{
FrameQueue::PushResult FrameQueue::Push(QueuedFrame frame)
{
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return PushResult::Closed;
        if (waitingForKeyFrame_ && !frame.startsDecoding)
        {
            ++dropped_;
            return PushResult::DroppedUntilKeyFrame;
        }
        const std::size_t size = frame.data.size();
        if (!frames_.empty() && size > byteLimit_ - std::min(bytes_, byteLimit_))
        {
            ++dropped_;
            waitingForKeyFrame_ = true;
            return PushResult::DroppedFull;
        }
        waitingForKeyFrame_ = false;
        bytes_ += size;
        peakBytes_ = std::max(peakBytes_, bytes_);
        frames_.push_back(std::move(frame));
    }
    available_.notify_one();
    return PushResult::Queued;
}

std::optional<QueuedFrame> FrameQueue::Pop()
{
    std::unique_lock lock(mutex_);
    available_.wait(lock, [this] { return closed_ || !frames_.empty(); });
    if (frames_.empty())
        return std::nullopt;
    QueuedFrame frame = std::move(frames_.front());
    frames_.pop_front();
    bytes_ -= frame.data.size();
    return frame;
}

void FrameQueue::Close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    available_.notify_all();
}

std::uint64_t FrameQueue::Dropped() const
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

std::size_t FrameQueue::PeakBytes() const
{
    std::lock_guard lock(mutex_);
    return peakBytes_;
}
}
