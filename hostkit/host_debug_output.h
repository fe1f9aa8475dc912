// The host's debug sink: keeps every line the module logs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <brantel/host_params.h>

#include "hostkit/bounded_history.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
struct DebugRecord
{
    std::uint8_t level = 0;
    std::string text;
};

// Lines arrive from every module thread at once. The record handed in is valid only during
// the call, so its text is copied before returning.
class HostDebugOutput final : public ipcapture::IIPDebugOutput
{
public:
    using Echo = std::function<void(const DebugRecord& record)>;
    using Predicate = std::function<bool(const DebugRecord& record)>;

    // Without a monitor the object keeps its own.
    explicit HostDebugOutput(std::shared_ptr<MisuseMonitor> misuse = nullptr);
    HostDebugOutput(const HostDebugOutput&) = delete;
    HostDebugOutput& operator=(const HostDebugOutput&) = delete;

    // A null text is recorded as an empty line; a null record is a misuse.
    void WriteDebugInfo(const CDebugInfoIf* info) override;

    std::vector<DebugRecord> Records() const;
    // Records since the last Clear, including those beyond the record limit.
    std::size_t Count() const;
    std::size_t CountContaining(std::string_view part) const;

    // The first record (already kept or arriving before the time-out) that matches; so a
    // test may start waiting after the line was written. The predicate runs under the
    // object's lock and must not call back into it.
    std::optional<DebugRecord> WaitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const;
    std::optional<DebugRecord> WaitFor(std::string_view part, std::chrono::milliseconds timeout) const;

    void Clear();
    // Called on the writing thread for every line, outside the lock; a bench prints with it.
    void SetEcho(Echo echo);
    // Keeps the most recent `limit` records; unbounded by default.
    void SetRecordLimit(std::size_t limit);

    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    BoundedHistory<DebugRecord> records_;
    std::uint64_t clears_ = 0;
    Echo echo_;
};
}
