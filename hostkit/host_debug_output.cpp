#include "hostkit/host_debug_output.h"

#include <algorithm>
#include <utility>

#include <brantel/debug_info.h>

namespace kestrav::hostkit
{
HostDebugOutput::HostDebugOutput(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>())
{
}

void HostDebugOutput::WriteDebugInfo(const CDebugInfoIf* info)
{
    if (info == nullptr)
    {
        misuse_->Report("IIPDebugOutput::WriteDebugInfo called with a null record");
        return;
    }
    const char* text = info->GetText();
    DebugRecord record{info->GetLevel(), text != nullptr ? std::string(text) : std::string()};

    Echo echo;
    {
        std::lock_guard lock(mutex_);
        records_.Add(record);
        echo = echo_;
    }
    recorded_.notify_all();
    if (echo)
    {
        echo(record);
    }
}

std::vector<DebugRecord> HostDebugOutput::Records() const
{
    std::lock_guard lock(mutex_);
    return records_.Snapshot();
}

std::size_t HostDebugOutput::Count() const
{
    std::lock_guard lock(mutex_);
    return records_.Total();
}

std::size_t HostDebugOutput::CountContaining(std::string_view part) const
{
    std::lock_guard lock(mutex_);
    const auto& items = records_.Items();
    return static_cast<std::size_t>(std::count_if(items.begin(), items.end(),
                                                  [part](const DebugRecord& record)
                                                  { return record.text.find(part) != std::string::npos; }));
}

std::optional<DebugRecord> HostDebugOutput::WaitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    // Each wake-up looks only at the records not yet examined.
    std::size_t examined = 0;
    std::uint64_t clears = clears_;
    for (;;)
    {
        if (auto match = records_.FindFrom(examined, predicate))
        {
            return match;
        }
        examined = records_.Total();
        const bool timedOut = recorded_.wait_until(lock, deadline) == std::cv_status::timeout;
        // A Clear while waiting restarts the ordinals; look at everything again.
        if (clears != clears_)
        {
            clears = clears_;
            examined = 0;
        }
        if (timedOut)
        {
            return records_.FindFrom(examined, predicate);
        }
    }
}

std::optional<DebugRecord> HostDebugOutput::WaitFor(std::string_view part, std::chrono::milliseconds timeout) const
{
    return WaitFor([part](const DebugRecord& record) { return record.text.find(part) != std::string::npos; }, timeout);
}

void HostDebugOutput::Clear()
{
    std::lock_guard lock(mutex_);
    records_.Clear();
    ++clears_;
}

void HostDebugOutput::SetEcho(Echo echo)
{
    std::lock_guard lock(mutex_);
    echo_ = std::move(echo);
}

void HostDebugOutput::SetRecordLimit(std::size_t limit)
{
    std::lock_guard lock(mutex_);
    records_.SetLimit(limit);
}
}
