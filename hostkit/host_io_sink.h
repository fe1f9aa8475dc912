// The host's IO callback: keeps every input change and every reset the module reports.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include <brantel/capture_io.h>

namespace kestrav::hostkit
{
// Called from the module's IO threads, several at once.
class HostIOSink final : public IIPIOSink
{
public:
    using InputChange = std::pair<std::int32_t, std::int32_t>; // index, state

    void OnInputStateChanged(std::int32_t index, std::int32_t state) override;
    void OnIOStatesReset() override;

    std::vector<InputChange> InputChanges() const;
    std::uint64_t ResetCount() const;
    // True once the counts reach `count`; false on time-out.
    bool WaitForInputChanges(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForResets(std::uint64_t count, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<InputChange> inputChanges_;
    std::uint64_t resets_ = 0;
};
}
