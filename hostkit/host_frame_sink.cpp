#include "hostkit/host_frame_sink.h"

#include <stdexcept>
#include <utility>

#include "hostkit/host_media_buffer.h"

namespace kestrav::hostkit
{
namespace
{
struct ForeignDeliveryFault
{
    int code = 0;
};
}

HostFrameSink::HostFrameSink(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>())
{
}

std::optional<DeliveredFrame> HostFrameSink::Copy(ipcapture::IIPMediaBuffer* buffer)
{
    if (buffer == nullptr)
    {
        misuse_->Report("IIPFrameSink::DeliverFrame called with a null buffer");
        return std::nullopt;
    }
    DeliveredFrame frame;
    if (auto* ours = dynamic_cast<HostMediaBuffer*>(buffer))
    {
        // One report instead of one per getter below.
        if (ours->IsReleased())
        {
            misuse_->Report("IIPFrameSink::DeliverFrame: " + ours->Describe() + " delivered after its release");
            return std::nullopt;
        }
        ours->CheckGuard();
        frame.ownerName = ours->OwnerName();
    }
    frame.typeCode = buffer->GetTypeCode();
    frame.width = buffer->GetWidth();
    frame.height = buffer->GetHeight();
    frame.sizeClass = buffer->GetSizeClass();
    frame.marked = buffer->IsMarked();
    frame.capacity = buffer->GetCapacity();
    ipcapture::SystemTime time;
    if (buffer->GetTimestamp(&time))
    {
        frame.timestamp = time;
    }
    const std::uint8_t* data = buffer->GetData();
    if (data != nullptr)
    {
        frame.data.assign(data, data + buffer->GetDataSize());
    }
    frame.deliveringThread = std::this_thread::get_id();
    return frame;
}

bool HostFrameSink::DeliverFrame(ipcapture::IIPMediaBuffer* buffer)
{
    std::optional<DeliveredFrame> frame = Copy(buffer);
    if (!frame)
    {
        return false;
    }

    FrameCallback callback;
    {
        std::lock_guard lock(mutex_);
        frame->sequence = nextSequence_++;
        callback = frameCallback_;
    }
    if (callback)
    {
        callback(*frame);
    }

    bool accept = true;
    DeliverFault fault = DeliverFault::None;
    {
        std::lock_guard lock(mutex_);
        frames_.Add(std::move(*frame));
        accept = accept_;
        fault = fault_;
    }
    changed_.notify_all();

    switch (fault)
    {
    case DeliverFault::ThrowStdException:
        throw std::runtime_error("HostFrameSink: injected delivery fault");
    case DeliverFault::ThrowForeignObject:
        throw ForeignDeliveryFault{-1};
    case DeliverFault::None:
        break;
    }
    return accept;
}

void HostFrameSink::ReservedSlot2()
{
    misuse_->Report("IIPFrameSink slot 2 is the host's own; the module called it");
}

void HostFrameSink::ReportSignalLost()
{
    SignalLostCallback callback;
    {
        std::lock_guard lock(mutex_);
        ++signalLost_;
        callback = signalLostCallback_;
    }
    changed_.notify_all();
    if (callback)
    {
        callback();
    }
}

void HostFrameSink::SetAccept(bool accept)
{
    std::lock_guard lock(mutex_);
    accept_ = accept;
}

void HostFrameSink::SetDeliverFault(DeliverFault fault)
{
    std::lock_guard lock(mutex_);
    fault_ = fault;
}

void HostFrameSink::SetFrameLimit(std::size_t limit)
{
    std::lock_guard lock(mutex_);
    frames_.SetLimit(limit);
}

void HostFrameSink::SetFrameCallback(FrameCallback callback)
{
    std::lock_guard lock(mutex_);
    frameCallback_ = std::move(callback);
}

void HostFrameSink::SetSignalLostCallback(SignalLostCallback callback)
{
    std::lock_guard lock(mutex_);
    signalLostCallback_ = std::move(callback);
}

std::vector<DeliveredFrame> HostFrameSink::Frames() const
{
    std::lock_guard lock(mutex_);
    return frames_.Snapshot();
}

std::optional<DeliveredFrame> HostFrameSink::LastFrame() const
{
    std::lock_guard lock(mutex_);
    if (frames_.Items().empty())
    {
        return std::nullopt;
    }
    return frames_.Items().back();
}

std::uint64_t HostFrameSink::DeliveredCount() const
{
    std::lock_guard lock(mutex_);
    return frames_.Total();
}

std::uint64_t HostFrameSink::SignalLostCount() const
{
    std::lock_guard lock(mutex_);
    return signalLost_;
}

bool HostFrameSink::WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.Total() >= count; });
}

bool HostFrameSink::WaitForSignalLost(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return signalLost_ >= count; });
}

void HostFrameSink::Clear()
{
    std::lock_guard lock(mutex_);
    frames_.Clear();
    nextSequence_ = 1;
    signalLost_ = 0;
}
}
