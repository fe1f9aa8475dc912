// The host's media allocator: hands out frame records and catches the module's misuse of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <brantel/media.h>

#include "hostkit/bounded_history.h"
#include "hostkit/host_media_buffer.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
struct AllocationRequest
{
    std::uint32_t typeCode = 0;
    std::uint32_t capacity = 0;
    std::string ownerName;
    bool granted = false;
};

// Reported as misuses: a release of a buffer already released, of a pointer never handed
// out or of null; any call on a released buffer; a data size beyond the capacity; a write
// past the capacity; a buffer still out at CheckAllReleased or at destruction; a call to a
// slot reserved to the host.
//
// Released buffers are kept, storage freed, in a graveyard of the last kGraveyardSize
// releases so that a late call finds a live object that reports it. Beyond that window the
// object is destroyed; a call on it then is undefined, and its address may be reused by a
// new buffer. Pointers handed in are only ever looked up, never dereferenced, until found.
class HostMediaAllocator final : public ipcapture::IIPMediaAllocator
{
public:
    static constexpr std::size_t kGraveyardSize = 4096;
    // A real host refuses absurd requests; a module fed hostile sizes must survive a null.
    static constexpr std::uint32_t kDefaultCapacityLimit = 64U * 1024U * 1024U;

    // Without a monitor the object keeps its own.
    explicit HostMediaAllocator(std::shared_ptr<MisuseMonitor> misuse = nullptr);
    // Reports the buffers never released, then frees them.
    ~HostMediaAllocator() override;
    HostMediaAllocator(const HostMediaAllocator&) = delete;
    HostMediaAllocator& operator=(const HostMediaAllocator&) = delete;

    // Buffers allocated and not yet released.
    std::uint32_t GetOutstandingCount() const override;
    // Null when failure is injected, the capacity is above the limit or memory runs out.
    // A null owner name is recorded as empty.
    ipcapture::IIPMediaBuffer* AllocateBuffer(std::uint32_t typeCode, std::uint32_t capacity,
                                              const char* ownerName) override;
    void ReservedSlot3() override;
    void ReservedSlot4() override;
    void ReservedSlot5() override;
    void ReleaseBuffer(ipcapture::IIPMediaBuffer* buffer) override;

    // Failure injection; the two add up: an allocation fails while either holds.
    void FailNextAllocations(std::uint32_t count);
    void FailAllAllocations(bool fail);
    void SetCapacityLimit(std::uint32_t bytes);

    // Reports each outstanding buffer not reported before; returns how many are out.
    std::size_t CheckAllReleased();

    std::uint64_t GrantedCount() const;
    std::uint64_t RefusedCount() const;
    std::uint64_t ReleasedCount() const;
    // Every request, granted or not, oldest first; unbounded unless limited.
    std::vector<AllocationRequest> Requests() const;
    void SetRequestLimit(std::size_t limit);

    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    void ReportReserved(int slot);

    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    std::unordered_map<const ipcapture::IIPMediaBuffer*, std::unique_ptr<HostMediaBuffer>> outstanding_;
    std::unordered_set<const ipcapture::IIPMediaBuffer*> reportedOutstanding_;
    std::deque<std::unique_ptr<HostMediaBuffer>> graveyard_;
    // The graveyard by the address the module knows.
    std::unordered_map<const ipcapture::IIPMediaBuffer*, const HostMediaBuffer*> buried_;
    BoundedHistory<AllocationRequest> requests_;
    std::uint64_t nextSerial_ = 1;
    std::uint64_t granted_ = 0;
    std::uint64_t refused_ = 0;
    std::uint64_t released_ = 0;
    std::uint32_t failNext_ = 0;
    bool failAll_ = false;
    std::uint32_t capacityLimit_ = kDefaultCapacityLimit;
};
}
