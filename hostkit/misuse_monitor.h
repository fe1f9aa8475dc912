// Collects the faults the module commits against the host's objects.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav::hostkit
{
// Every host object of the kit reports here when the module breaks the host's contract
// (a buffer released twice, a call on a released buffer, a reserved slot called...).
// One monitor is usually shared by all objects of a host, so one check covers them all.
class MisuseMonitor
{
public:
    using Handler = std::function<void(const std::string& misuse)>;

    // A module gone wrong can misuse a buffer on every frame; a bench running for hours
    // must not grow without bound, and the first reports are the telling ones.
    static constexpr std::size_t kStoredMisuseLimit = 1000;

    // Stores the report (up to the limit) and then calls the handler, if any, outside
    // the lock so that the handler may read the monitor.
    void Report(std::string misuse);

    // Called for every report in addition to storing it; an empty handler only stores.
    // Tests install one that fails the running test so the fault shows where it happened.
    void SetMisuseHandler(Handler handler);

    std::vector<std::string> Misuses() const;
    // All reports, stored or beyond the limit.
    std::size_t Count() const;
    std::size_t CountContaining(std::string_view part) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> misuses_;
    std::size_t count_ = 0;
    Handler handler_;
};
}
