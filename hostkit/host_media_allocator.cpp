#include "hostkit/host_media_allocator.h"

#include <utility>

namespace kestrav::hostkit
{
HostMediaAllocator::HostMediaAllocator(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>())
{
}

HostMediaAllocator::~HostMediaAllocator()
{
    CheckAllReleased();
}

std::uint32_t HostMediaAllocator::GetOutstandingCount() const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(outstanding_.size());
}

ipcapture::IIPMediaBuffer* HostMediaAllocator::AllocateBuffer(std::uint32_t typeCode, std::uint32_t capacity,
                                                              const char* ownerName)
{
    AllocationRequest request{typeCode, capacity, ownerName != nullptr ? ownerName : "", false};
    std::uint64_t serial = 0;
    bool refuse = false;
    {
        std::lock_guard lock(mutex_);
        refuse = failAll_ || failNext_ > 0 || capacity > capacityLimit_;
        if (failNext_ > 0)
        {
            --failNext_;
        }
        serial = nextSerial_++;
    }
    // Filling the storage takes a while for large frames; other threads go on meanwhile.
    std::unique_ptr<HostMediaBuffer> buffer;
    if (!refuse)
    {
        buffer = HostMediaBuffer::Create(serial, typeCode, capacity, request.ownerName, misuse_);
    }

    std::lock_guard lock(mutex_);
    request.granted = buffer != nullptr;
    requests_.Add(std::move(request));
    if (!buffer)
    {
        ++refused_;
        return nullptr;
    }
    ++granted_;
    HostMediaBuffer* handedOut = buffer.get();
    outstanding_.emplace(handedOut, std::move(buffer));
    return handedOut;
}

void HostMediaAllocator::ReleaseBuffer(ipcapture::IIPMediaBuffer* buffer)
{
    // Misuses are reported outside the lock: a handler may look at the allocator.
    std::unique_ptr<HostMediaBuffer> shell;
    std::string misuse;
    {
        std::lock_guard lock(mutex_);
        const auto found = outstanding_.find(buffer);
        if (found != outstanding_.end())
        {
            shell = std::move(found->second);
            outstanding_.erase(found);
            reportedOutstanding_.erase(buffer);
            ++released_;
        }
        else if (buffer == nullptr)
        {
            misuse = "IIPMediaAllocator::ReleaseBuffer called with null";
        }
        else if (const auto buried = buried_.find(buffer); buried != buried_.end())
        {
            misuse = "IIPMediaAllocator::ReleaseBuffer: " + buried->second->Describe() + " released twice";
        }
        else
        {
            misuse = "IIPMediaAllocator::ReleaseBuffer: a pointer this allocator never handed out";
        }
    }
    if (!shell)
    {
        misuse_->Report(std::move(misuse));
        return;
    }
    shell->Release();

    std::lock_guard lock(mutex_);
    buried_.emplace(shell.get(), shell.get());
    graveyard_.push_back(std::move(shell));
    if (graveyard_.size() > kGraveyardSize)
    {
        buried_.erase(graveyard_.front().get());
        graveyard_.pop_front();
    }
}

void HostMediaAllocator::ReservedSlot3()
{
    ReportReserved(3);
}

void HostMediaAllocator::ReservedSlot4()
{
    ReportReserved(4);
}

void HostMediaAllocator::ReservedSlot5()
{
    ReportReserved(5);
}

void HostMediaAllocator::ReportReserved(int slot)
{
    misuse_->Report("IIPMediaAllocator slot " + std::to_string(slot) + " is the host's own; the module called it");
}

void HostMediaAllocator::FailNextAllocations(std::uint32_t count)
{
    std::lock_guard lock(mutex_);
    failNext_ = count;
}

void HostMediaAllocator::FailAllAllocations(bool fail)
{
    std::lock_guard lock(mutex_);
    failAll_ = fail;
}

void HostMediaAllocator::SetCapacityLimit(std::uint32_t bytes)
{
    std::lock_guard lock(mutex_);
    capacityLimit_ = bytes;
}

std::size_t HostMediaAllocator::CheckAllReleased()
{
    std::vector<std::string> reports;
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        count = outstanding_.size();
        for (const auto& [pointer, buffer] : outstanding_)
        {
            if (reportedOutstanding_.insert(pointer).second)
            {
                reports.push_back(buffer->Describe() + " was never released");
            }
        }
    }
    // Outside the lock: a handler may look at the allocator.
    for (auto& report : reports)
    {
        misuse_->Report(std::move(report));
    }
    return count;
}

std::uint64_t HostMediaAllocator::GrantedCount() const
{
    std::lock_guard lock(mutex_);
    return granted_;
}

std::uint64_t HostMediaAllocator::RefusedCount() const
{
    std::lock_guard lock(mutex_);
    return refused_;
}

std::uint64_t HostMediaAllocator::ReleasedCount() const
{
    std::lock_guard lock(mutex_);
    return released_;
}

std::vector<AllocationRequest> HostMediaAllocator::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_.Snapshot();
}

void HostMediaAllocator::SetRequestLimit(std::size_t limit)
{
    std::lock_guard lock(mutex_);
    requests_.SetLimit(limit);
}
}
