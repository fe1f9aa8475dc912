#include "hostkit/misuse_monitor.h"

#include <algorithm>
#include <utility>

namespace kestrav::hostkit
{
void MisuseMonitor::Report(std::string misuse)
{
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        ++count_;
        if (misuses_.size() < kStoredMisuseLimit)
        {
            misuses_.push_back(misuse);
        }
        handler = handler_;
    }
    if (handler)
    {
        handler(misuse);
    }
}

void MisuseMonitor::SetMisuseHandler(Handler handler)
{
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<std::string> MisuseMonitor::Misuses() const
{
    std::lock_guard lock(mutex_);
    return misuses_;
}

std::size_t MisuseMonitor::Count() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

std::size_t MisuseMonitor::CountContaining(std::string_view part) const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count_if(misuses_.begin(), misuses_.end(),
                                                  [part](const std::string& misuse)
                                                  { return misuse.find(part) != std::string::npos; }));
}

void MisuseMonitor::Clear()
{
    std::lock_guard lock(mutex_);
    misuses_.clear();
    count_ = 0;
}
}
