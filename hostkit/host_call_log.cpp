#include "hostkit/host_call_log.h"

#include <algorithm>
#include <utility>

namespace kestrav::hostkit
{
void HostCallLog::Append(std::string call)
{
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(call));
}

std::vector<std::string> HostCallLog::Entries() const
{
    std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t HostCallLog::Count(std::string_view call) const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), call));
}

void HostCallLog::Clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}
}
