// The host's callback for one device search: records how the query ended.
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
#include <thread>
#include <vector>

#include <brantel/capability_query.h>

#include "hostkit/host_capability_results.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
struct QueryOutcome
{
    enum class Kind
    {
        Completed,
        Failed,
    };

    Kind kind = Kind::Failed;
    // Only for a failure; the message is copied during the call, null stays empty.
    std::int32_t code = 0;
    std::optional<std::string> message;
    std::thread::id callingThread;
};

// Callbacks come from the module's query thread. A query reports exactly one outcome; a
// second one, a code outside 0 to 3, a null message, a reserved slot or an outcome after
// the module said it killed the thread are reported as misuses.
class HostCapabilityQuerySink final : public ipcapture::IIPCapabilityQuerySink
{
public:
    // Runs on the module's thread inside the callback, outside the sink's lock, before the
    // outcome becomes visible to waiters: a test may delete the module from here and then
    // learn from the wait that the callback returned.
    using OutcomeHook = std::function<void(const QueryOutcome& outcome)>;
    using TerminatedHook = std::function<void()>;

    // Without a monitor the object keeps its own.
    explicit HostCapabilityQuerySink(std::shared_ptr<MisuseMonitor> misuse = nullptr);
    HostCapabilityQuerySink(const HostCapabilityQuerySink&) = delete;
    HostCapabilityQuerySink& operator=(const HostCapabilityQuerySink&) = delete;

    void ReservedSlot1() override;
    void OnQueryCompleted() override;
    void OnQueryFailed(std::int32_t code, const char* message) override;
    void OnQueryThreadTerminated() override;

    void SetOutcomeHook(OutcomeHook hook);
    void SetTerminatedHook(TerminatedHook hook);
    // Seals `results` (not owned; null for none) when an outcome arrives, as a host stops
    // reading what the module writes once it has been told the query ended.
    void SealAtOutcome(HostCapabilityResults* results);

    // The first outcome whose callback has returned; std::nullopt on time-out.
    std::optional<QueryOutcome> WaitForOutcome(std::chrono::milliseconds timeout) const;
    bool WaitForThreadTerminated(std::chrono::milliseconds timeout) const;
    std::vector<QueryOutcome> Outcomes() const;
    std::size_t ThreadTerminatedCount() const;

    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    void Deliver(QueryOutcome::Kind kind, std::int32_t code, const char* message);

    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Counted on entry, so that two outcomes racing each other are still caught.
    std::size_t outcomesEntered_ = 0;
    std::vector<QueryOutcome> outcomes_;
    std::size_t threadTerminated_ = 0;
    OutcomeHook outcomeHook_;
    TerminatedHook terminatedHook_;
    HostCapabilityResults* sealAtOutcome_ = nullptr;
};
}
