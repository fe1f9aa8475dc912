#include "hostkit/host_io_sink.h"

namespace kestrav::hostkit
{
void HostIOSink::OnInputStateChanged(std::int32_t index, std::int32_t state)
{
    {
        std::lock_guard lock(mutex_);
        inputChanges_.emplace_back(index, state);
    }
    changed_.notify_all();
}

void HostIOSink::OnIOStatesReset()
{
    {
        std::lock_guard lock(mutex_);
        ++resets_;
    }
    changed_.notify_all();
}

std::vector<HostIOSink::InputChange> HostIOSink::InputChanges() const
{
    std::lock_guard lock(mutex_);
    return inputChanges_;
}

std::uint64_t HostIOSink::ResetCount() const
{
    std::lock_guard lock(mutex_);
    return resets_;
}

bool HostIOSink::WaitForInputChanges(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return inputChanges_.size() >= count; });
}

bool HostIOSink::WaitForResets(std::uint64_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return resets_ >= count; });
}

void HostIOSink::Clear()
{
    std::lock_guard lock(mutex_);
    inputChanges_.clear();
    resets_ = 0;
}
}
