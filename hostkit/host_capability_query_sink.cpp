#include "hostkit/host_capability_query_sink.h"

#include <utility>

namespace kestrav::hostkit
{
HostCapabilityQuerySink::HostCapabilityQuerySink(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>())
{
}

void HostCapabilityQuerySink::ReservedSlot1()
{
    misuse_->Report("IIPCapabilityQuerySink slot 1 is the host's own; the module called it");
}

void HostCapabilityQuerySink::OnQueryCompleted()
{
    Deliver(QueryOutcome::Kind::Completed, 0, nullptr);
}

void HostCapabilityQuerySink::OnQueryFailed(std::int32_t code, const char* message)
{
    if (message == nullptr)
    {
        misuse_->Report("IIPCapabilityQuerySink::OnQueryFailed(" + std::to_string(code) + ") with a null message");
    }
    if (code < 0 || code > 3)
    {
        misuse_->Report("IIPCapabilityQuerySink::OnQueryFailed: code " + std::to_string(code) + " is none of 0 to 3");
    }
    Deliver(QueryOutcome::Kind::Failed, code, message);
}

// Built here and copied, not moved: GCC 12 at -O1 with the sanitizers takes the move of an empty
// std::optional<std::string> for a read of an uninitialised string.
void HostCapabilityQuerySink::Deliver(QueryOutcome::Kind kind, std::int32_t code, const char* message)
{
    QueryOutcome outcome;
    outcome.kind = kind;
    outcome.code = code;
    if (message != nullptr)
    {
        outcome.message.emplace(message);
    }
    outcome.callingThread = std::this_thread::get_id();
    OutcomeHook hook;
    HostCapabilityResults* results = nullptr;
    std::size_t entered = 0;
    bool afterKill = false;
    {
        std::lock_guard lock(mutex_);
        entered = ++outcomesEntered_;
        afterKill = threadTerminated_ > 0;
        hook = outcomeHook_;
        results = sealAtOutcome_;
    }
    if (entered > 1)
    {
        misuse_->Report("IIPCapabilityQuerySink: outcome number " + std::to_string(entered) +
                        " of one query; a query ends once");
    }
    if (afterKill)
    {
        misuse_->Report("IIPCapabilityQuerySink: an outcome after the module reported its query thread killed");
    }
    if (results != nullptr)
    {
        results->Seal();
    }
    if (hook)
    {
        hook(outcome);
    }
    // Notified under the lock: a waiter that returns may destroy the sink while a module thread,
    // detached after a stop that gave up on it, is still on its way out of this call.
    std::lock_guard lock(mutex_);
    outcomes_.push_back(outcome);
    changed_.notify_all();
}

void HostCapabilityQuerySink::OnQueryThreadTerminated()
{
    TerminatedHook hook;
    {
        std::lock_guard lock(mutex_);
        hook = terminatedHook_;
    }
    if (hook)
    {
        hook();
    }
    std::lock_guard lock(mutex_);
    ++threadTerminated_;
    changed_.notify_all();
}

void HostCapabilityQuerySink::SetOutcomeHook(OutcomeHook hook)
{
    std::lock_guard lock(mutex_);
    outcomeHook_ = std::move(hook);
}

void HostCapabilityQuerySink::SetTerminatedHook(TerminatedHook hook)
{
    std::lock_guard lock(mutex_);
    terminatedHook_ = std::move(hook);
}

void HostCapabilityQuerySink::SealAtOutcome(HostCapabilityResults* results)
{
    std::lock_guard lock(mutex_);
    sealAtOutcome_ = results;
}

std::optional<QueryOutcome> HostCapabilityQuerySink::WaitForOutcome(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return !outcomes_.empty(); }))
    {
        return std::nullopt;
    }
    return outcomes_.front();
}

bool HostCapabilityQuerySink::WaitForThreadTerminated(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return threadTerminated_ > 0; });
}

std::vector<QueryOutcome> HostCapabilityQuerySink::Outcomes() const
{
    std::lock_guard lock(mutex_);
    return outcomes_;
}

std::size_t HostCapabilityQuerySink::ThreadTerminatedCount() const
{
    std::lock_guard lock(mutex_);
    return threadTerminated_;
}
}
