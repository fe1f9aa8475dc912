// The host's container for what one device search found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <brantel/capability_query.h>

#include "hostkit/bounded_history.h"
#include "hostkit/host_device_params.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// One connection item or named item as the module left it; a field never written stays empty.
struct CapabilityItemRecord
{
    std::optional<std::string> text;
    std::optional<std::int32_t> flag;
    std::optional<std::string> name;
    std::optional<std::int32_t> editable;
};

struct CapabilityResolutionRecord
{
    std::optional<std::string> text;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRateCode = 0;
};

struct CapabilityValueListRecord
{
    std::vector<std::uint32_t> values;
    std::optional<std::uint32_t> defaultValue;
};

// The container's state at one moment: the last value of every field, and every write in
// order (as "SetValue(8, 1)", "named(5).SetText(h264:...)") so that a test sees repeats too.
struct CapabilitySnapshot
{
    std::map<std::uint32_t, std::uint32_t> values;
    std::optional<std::string> deviceName;
    std::map<std::int32_t, CapabilityItemRecord> connectionItems;
    std::map<std::int32_t, CapabilityItemRecord> namedItems;
    std::vector<CapabilityResolutionRecord> resolutions;
    std::map<std::int32_t, CapabilityValueListRecord> valueLists;
    std::vector<std::string> writes;
    std::size_t writeCount = 0;
};

// Every slot is safe to call from several threads; getters return objects the container
// owns, at fixed addresses, until it is destroyed. A misused slot is reported and the write
// is still kept (an out-of-range index still gets a working item) so that a module fault
// shows as a report rather than as a crash of the test. Reported as misuses: reserved
// slots, null texts, a named item written before its name or with an empty name, flags
// other than 0 or 1, connection items outside 1 to 4, named ids and value-list indexes
// below 1, numbered values above 27, resolutions that are zero-sized, unnamed, named
// other than "<width>x<height>", without a frame-rate code or repeating a size, values
// repeated in a list, and any write after Seal().
class HostCapabilityResults final : public ipcapture::IIPCapabilityResults
{
public:
    // What every write throws after it was kept; the module must catch anything its host throws.
    enum class WriteFault
    {
        None,
        ThrowStdException,
        // Not derived from std::exception: only a catch-all stops it.
        ThrowForeignObject,
    };

    static constexpr std::uint32_t kHighestValueId = 27;
    static constexpr std::int32_t kConnectionItemCount = 4;
    // The named items the driver's Open gets back as extra parameters of the same index.
    static constexpr std::int32_t kFirstDeviceDetail = 1;
    static constexpr std::int32_t kLastDeviceDetail = 6;

    // Without a monitor the object keeps its own.
    explicit HostCapabilityResults(std::shared_ptr<MisuseMonitor> misuse = nullptr);
    ~HostCapabilityResults() override;
    HostCapabilityResults(const HostCapabilityResults&) = delete;
    HostCapabilityResults& operator=(const HostCapabilityResults&) = delete;

    bool SetValue(std::uint32_t id, std::uint32_t value) override;
    bool SetDeviceName(const char* name) override;
    ipcapture::IIPCapabilityItem* GetConnectionItem(std::int32_t index) override;
    void ReservedSlot4() override;
    ipcapture::IIPCapabilityItem* GetNamedItem(std::int32_t id) override;
    ipcapture::IIPResolutionList* GetResolutionList() override;
    void ReservedSlot7() override;
    ipcapture::IIPValueList* GetValueList(std::int32_t index) override;

    // The host stops accepting writes once the query has reported its outcome; a module
    // thread still writing after that is a misuse.
    void Seal();
    bool IsSealed() const;
    void SetWriteFault(WriteFault fault);
    // Keeps the most recent `limit` entries of the write journal; unbounded by default.
    void SetWriteLimit(std::size_t limit);

    CapabilitySnapshot Snapshot() const;
    // The texts of named items 1 to 6, by id, as written.
    std::map<std::int32_t, std::string> DeviceDetailTexts() const;
    // Gives the device detail texts to a driver's Open as extra parameters 1 to 6, the
    // host's round trip; a detail never written removes that parameter. True when all six
    // were written.
    bool WriteDeviceDetails(HostDeviceParams& params) const;

    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    class Item;
    class ResolutionList;
    class ValueList;
    friend class Item;
    friend class ResolutionList;
    friend class ValueList;

    enum class ItemKind
    {
        Connection,
        Named,
    };
    enum class ItemField
    {
        Text,
        Flag,
        Name,
        Editable,
    };

    // What the item objects call; `text` is null for the numeric fields.
    bool WriteItem(ItemKind kind, std::int32_t id, ItemField field, const char* text, std::int32_t number);
    bool AddResolution(const char* text, std::uint32_t width, std::uint32_t height, std::uint32_t frameRateCode);
    bool WriteValueList(std::int32_t index, bool isDefault, std::uint32_t value);
    // Under the lock: journals the write and reports a write after Seal().
    void Journal(std::string write, std::vector<std::string>& misuses);
    void ReportAll(const std::vector<std::string>& misuses) const;
    // Outside the lock, at the end of every write.
    void ThrowIfFaulted() const;

    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    bool sealed_ = false;
    WriteFault fault_ = WriteFault::None;
    std::map<std::uint32_t, std::uint32_t> values_;
    std::optional<std::string> deviceName_;
    std::map<std::int32_t, CapabilityItemRecord> connectionItems_;
    std::map<std::int32_t, CapabilityItemRecord> namedItems_;
    std::vector<CapabilityResolutionRecord> resolutions_;
    std::map<std::int32_t, CapabilityValueListRecord> valueLists_;
    BoundedHistory<std::string> writes_;
    std::map<std::int32_t, std::unique_ptr<Item>> connectionObjects_;
    std::map<std::int32_t, std::unique_ptr<Item>> namedObjects_;
    std::unique_ptr<ResolutionList> resolutionObject_;
    std::map<std::int32_t, std::unique_ptr<ValueList>> valueListObjects_;
};
}
