// The host's frame sink: keeps a copy of every frame the module delivers.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <brantel/media.h>

#include "hostkit/bounded_history.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// Everything the host can read of a buffer during DeliverFrame; the buffer itself goes back
// to the allocator right after.
struct DeliveredFrame
{
    // 1 for the first frame since the last Clear, in the order deliveries began.
    std::uint64_t sequence = 0;
    std::uint32_t typeCode = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t sizeClass = 0;
    std::vector<std::uint8_t> data;
    std::optional<ipcapture::SystemTime> timestamp;
    bool marked = false;
    std::uint32_t capacity = 0;
    // Empty when the buffer does not come from HostMediaAllocator.
    std::string ownerName;
    std::thread::id deliveringThread;
};

// Frames arrive from several module threads at once.
class HostFrameSink final : public ipcapture::IIPFrameSink
{
public:
    // What DeliverFrame throws after recording the frame; the module must catch anything.
    enum class DeliverFault
    {
        None,
        ThrowStdException,
        // Not derived from std::exception: only a catch-all stops it.
        ThrowForeignObject,
    };
    using FrameCallback = std::function<void(const DeliveredFrame& frame)>;
    using SignalLostCallback = std::function<void()>;

    // Without a monitor the object keeps its own.
    explicit HostFrameSink(std::shared_ptr<MisuseMonitor> misuse = nullptr);
    HostFrameSink(const HostFrameSink&) = delete;
    HostFrameSink& operator=(const HostFrameSink&) = delete;

    // Records a copy, calls the frame callback, then answers as configured (or throws).
    // A null or released buffer is a misuse and is refused.
    bool DeliverFrame(ipcapture::IIPMediaBuffer* buffer) override;
    void ReservedSlot2() override;
    void ReportSignalLost() override;

    void SetAccept(bool accept);
    void SetDeliverFault(DeliverFault fault);
    // Keeps the most recent `limit` frames; unbounded by default.
    void SetFrameLimit(std::size_t limit);
    // Called on the delivering thread, outside the lock, before the frame is kept.
    void SetFrameCallback(FrameCallback callback);
    void SetSignalLostCallback(SignalLostCallback callback);

    std::vector<DeliveredFrame> Frames() const;
    std::optional<DeliveredFrame> LastFrame() const;
    // Frames received since the last Clear, kept or beyond the limit, accepted or not; a
    // null or released buffer is no frame.
    std::uint64_t DeliveredCount() const;
    std::uint64_t SignalLostCount() const;
    // True once the counts reach `count`; false on time-out.
    bool WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const;
    bool WaitForSignalLost(std::uint64_t count, std::chrono::milliseconds timeout) const;
    void Clear();

    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    // Null (after a report) when the buffer must not be read.
    std::optional<DeliveredFrame> Copy(ipcapture::IIPMediaBuffer* buffer);

    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    BoundedHistory<DeliveredFrame> frames_;
    std::uint64_t nextSequence_ = 1;
    std::uint64_t signalLost_ = 0;
    bool accept_ = true;
    DeliverFault fault_ = DeliverFault::None;
    FrameCallback frameCallback_;
    SignalLostCallback signalLostCallback_;
};
}
