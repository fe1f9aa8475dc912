// The device search: the query object the module hands to the host, and the host's callback and result
// container it writes into.
#pragma once

#include <cstdint>

#include "brantel/deletable.h"

namespace kestrav::ipcapture
{
// Slots marked "host's" belong to the host; the module never calls them.

// One entry of the result container: a connection item (indexes 1 to 4) or a named capability text.
class IIPCapabilityItem
{
public:
    virtual ~IIPCapabilityItem() = default;
    // `text` is valid only during the call.
    virtual bool SetText(const char* text) = 0;       // 1
    virtual void ReservedSlot2() = 0;                 // 2 (host's)
    virtual void ReservedSlot3() = 0;                 // 3 (host's)
    virtual bool SetFlag(std::int32_t flag) = 0;      // 4: 1 text, 0 number
    virtual bool SetName(const char* name) = 0;       // 5
    virtual bool SetEditable(std::int32_t value) = 0; // 6
};

class IIPResolutionList
{
public:
    virtual ~IIPResolutionList() = default;
    virtual bool Add(const char* text, std::uint32_t width, std::uint32_t height,
                     std::uint32_t frameRateCode) = 0; // 1
};

class IIPValueList
{
public:
    virtual ~IIPValueList() = default;
    virtual bool SetDefault(std::uint32_t value) = 0; // 1
    virtual bool Add(std::uint32_t value) = 0;        // 2
};

// The host's container for what one device search found. The getters return objects the container owns.
class IIPCapabilityResults
{
public:
    virtual ~IIPCapabilityResults() = default;
    virtual bool SetValue(std::uint32_t id, std::uint32_t value) = 0;     // 1
    virtual bool SetDeviceName(const char* name) = 0;                     // 2
    virtual IIPCapabilityItem* GetConnectionItem(std::int32_t index) = 0; // 3
    virtual void ReservedSlot4() = 0;                                     // 4 (host's)
    virtual IIPCapabilityItem* GetNamedItem(std::int32_t id) = 0;         // 5
    virtual IIPResolutionList* GetResolutionList() = 0;                   // 6
    virtual void ReservedSlot7() = 0;                                     // 7 (host's)
    virtual IIPValueList* GetValueList(std::int32_t index) = 0;           // 8
};

// The host's callback for one device search. Calls come from the module's query thread.
class IIPCapabilityQuerySink
{
public:
    virtual ~IIPCapabilityQuerySink() = default;
    virtual void ReservedSlot1() = 0;    // 1 (host's)
    virtual void OnQueryCompleted() = 0; // 2: the result container is filled
    // `message` is valid only during the call. Codes: 0 address unusable or not this camera family,
    // 1 login failed, 2 device offline or unreachable, 3 any other failure.
    virtual void OnQueryFailed(std::int32_t code, const char* message) = 0; // 3
    virtual void OnQueryThreadTerminated() = 0;                             // 4
};

// One device search. Deleted through the shared delete export (slot 0 of `IIPDeletable`).
class IIPCapabilityQuery : public IIPDeletable
{
public:
    // 1 when the query thread started, 0 otherwise; a module runs at most one query in its life.
    virtual std::int32_t Start(const char* address, std::uint16_t port, const char* user, const char* password,
                               IIPCapabilityResults* results) = 0; // 1
    // Asks a running query to end soon; does not wait.
    virtual void Terminate() = 0; // 2
};
}
