#include "hostkit/host_capability_results.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kestrav::hostkit
{
namespace
{
std::string Describe(const char* text)
{
    return text != nullptr ? std::string(text) : std::string("<null>");
}

struct ForeignWriteFault
{
    int code = 0;
};

const char* KindName(bool connection)
{
    return connection ? "connection" : "named";
}
}

class HostCapabilityResults::Item final : public ipcapture::IIPCapabilityItem
{
public:
    Item(HostCapabilityResults& owner, ItemKind kind, std::int32_t id) : owner_(owner), kind_(kind), id_(id) {}

    bool SetText(const char* text) override { return owner_.WriteItem(kind_, id_, ItemField::Text, text, 0); }
    void ReservedSlot2() override { ReportReserved(2); }
    void ReservedSlot3() override { ReportReserved(3); }
    bool SetFlag(std::int32_t flag) override { return owner_.WriteItem(kind_, id_, ItemField::Flag, nullptr, flag); }
    bool SetName(const char* name) override { return owner_.WriteItem(kind_, id_, ItemField::Name, name, 0); }
    bool SetEditable(std::int32_t value) override
    {
        return owner_.WriteItem(kind_, id_, ItemField::Editable, nullptr, value);
    }

private:
    void ReportReserved(int slot) const
    {
        owner_.misuse_->Report("IIPCapabilityItem slot " + std::to_string(slot) +
                               " is the host's own; the module called it");
    }

    HostCapabilityResults& owner_;
    const ItemKind kind_;
    const std::int32_t id_;
};

class HostCapabilityResults::ResolutionList final : public ipcapture::IIPResolutionList
{
public:
    explicit ResolutionList(HostCapabilityResults& owner) : owner_(owner) {}

    bool Add(const char* text, std::uint32_t width, std::uint32_t height, std::uint32_t frameRateCode) override
    {
        return owner_.AddResolution(text, width, height, frameRateCode);
    }

private:
    HostCapabilityResults& owner_;
};

class HostCapabilityResults::ValueList final : public ipcapture::IIPValueList
{
public:
    ValueList(HostCapabilityResults& owner, std::int32_t index) : owner_(owner), index_(index) {}

    bool SetDefault(std::uint32_t value) override { return owner_.WriteValueList(index_, true, value); }
    bool Add(std::uint32_t value) override { return owner_.WriteValueList(index_, false, value); }

private:
    HostCapabilityResults& owner_;
    const std::int32_t index_;
};

HostCapabilityResults::HostCapabilityResults(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>())
{
}

HostCapabilityResults::~HostCapabilityResults() = default;

void HostCapabilityResults::Journal(std::string write, std::vector<std::string>& misuses)
{
    if (sealed_)
    {
        misuses.push_back("IIPCapabilityResults: " + write + " after the query reported its outcome");
    }
    writes_.Add(std::move(write));
}

void HostCapabilityResults::ReportAll(const std::vector<std::string>& misuses) const
{
    for (const std::string& misuse : misuses)
    {
        misuse_->Report(misuse);
    }
}

bool HostCapabilityResults::SetValue(std::uint32_t id, std::uint32_t value)
{
    std::vector<std::string> misuses;
    {
        std::lock_guard lock(mutex_);
        const std::string write = "SetValue(" + std::to_string(id) + ", " + std::to_string(value) + ")";
        if (id > kHighestValueId)
        {
            misuses.push_back("IIPCapabilityResults::" + write + ": numbered values go up to " +
                              std::to_string(kHighestValueId));
        }
        values_.insert_or_assign(id, value);
        Journal(write, misuses);
    }
    ReportAll(misuses);
    ThrowIfFaulted();
    return misuses.empty();
}

bool HostCapabilityResults::SetDeviceName(const char* name)
{
    std::vector<std::string> misuses;
    {
        std::lock_guard lock(mutex_);
        const std::string write = "SetDeviceName(" + Describe(name) + ")";
        if (name == nullptr || *name == '\0')
        {
            misuses.push_back("IIPCapabilityResults::" + write + ": the host shows this name and needs one");
        }
        if (name != nullptr)
        {
            deviceName_ = name;
        }
        Journal(write, misuses);
    }
    ReportAll(misuses);
    ThrowIfFaulted();
    return misuses.empty();
}

ipcapture::IIPCapabilityItem* HostCapabilityResults::GetConnectionItem(std::int32_t index)
{
    if (index < 1 || index > kConnectionItemCount)
    {
        misuse_->Report("IIPCapabilityResults::GetConnectionItem(" + std::to_string(index) +
                        "): connection items are 1 to " + std::to_string(kConnectionItemCount));
    }
    std::lock_guard lock(mutex_);
    auto& item = connectionObjects_[index];
    if (!item)
    {
        item = std::make_unique<Item>(*this, ItemKind::Connection, index);
    }
    return item.get();
}

void HostCapabilityResults::ReservedSlot4()
{
    misuse_->Report("IIPCapabilityResults slot 4 is the host's own; the module called it");
}

ipcapture::IIPCapabilityItem* HostCapabilityResults::GetNamedItem(std::int32_t id)
{
    if (id < 1)
    {
        misuse_->Report("IIPCapabilityResults::GetNamedItem(" + std::to_string(id) + "): named ids start at 1");
    }
    std::lock_guard lock(mutex_);
    auto& item = namedObjects_[id];
    if (!item)
    {
        item = std::make_unique<Item>(*this, ItemKind::Named, id);
    }
    return item.get();
}

ipcapture::IIPResolutionList* HostCapabilityResults::GetResolutionList()
{
    std::lock_guard lock(mutex_);
    if (!resolutionObject_)
    {
        resolutionObject_ = std::make_unique<ResolutionList>(*this);
    }
    return resolutionObject_.get();
}

void HostCapabilityResults::ReservedSlot7()
{
    misuse_->Report("IIPCapabilityResults slot 7 is the host's own; the module called it");
}

ipcapture::IIPValueList* HostCapabilityResults::GetValueList(std::int32_t index)
{
    if (index < 1)
    {
        misuse_->Report("IIPCapabilityResults::GetValueList(" + std::to_string(index) + "): lists start at 1");
    }
    std::lock_guard lock(mutex_);
    auto& list = valueListObjects_[index];
    if (!list)
    {
        list = std::make_unique<ValueList>(*this, index);
    }
    return list.get();
}

bool HostCapabilityResults::WriteItem(ItemKind kind, std::int32_t id, ItemField field, const char* text,
                                      std::int32_t number)
{
    const bool connection = kind == ItemKind::Connection;
    const std::string object = std::string(KindName(connection)) + "(" + std::to_string(id) + ")";
    std::string write;
    switch (field)
    {
    case ItemField::Text:
        write = object + ".SetText(" + Describe(text) + ")";
        break;
    case ItemField::Name:
        write = object + ".SetName(" + Describe(text) + ")";
        break;
    case ItemField::Flag:
        write = object + ".SetFlag(" + std::to_string(number) + ")";
        break;
    case ItemField::Editable:
        write = object + ".SetEditable(" + std::to_string(number) + ")";
        break;
    }

    std::vector<std::string> misuses;
    {
        std::lock_guard lock(mutex_);
        CapabilityItemRecord& record = (connection ? connectionItems_ : namedItems_)[id];
        const bool textField = field == ItemField::Text || field == ItemField::Name;
        if (textField && text == nullptr)
        {
            misuses.push_back("IIPCapabilityItem " + write + ": null text");
        }
        if (field == ItemField::Name && text != nullptr && *text == '\0')
        {
            misuses.push_back("IIPCapabilityItem " + write + ": a named item needs a name");
        }
        if (!textField && number != 0 && number != 1)
        {
            misuses.push_back("IIPCapabilityItem " + write + ": only 0 or 1");
        }
        // The host files a named item under its name: anything written before it is lost.
        if (!connection && field != ItemField::Name && !record.name)
        {
            misuses.push_back("IIPCapabilityItem " + write + ": written before the item's name");
        }
        switch (field)
        {
        case ItemField::Text:
            if (text != nullptr)
            {
                record.text = text;
            }
            break;
        case ItemField::Name:
            if (text != nullptr)
            {
                record.name = text;
            }
            break;
        case ItemField::Flag:
            record.flag = number;
            break;
        case ItemField::Editable:
            record.editable = number;
            break;
        }
        Journal(write, misuses);
    }
    ReportAll(misuses);
    ThrowIfFaulted();
    return misuses.empty();
}

bool HostCapabilityResults::AddResolution(const char* text, std::uint32_t width, std::uint32_t height,
                                          std::uint32_t frameRateCode)
{
    const std::string write = "resolutions.Add(" + Describe(text) + ", " + std::to_string(width) + ", " +
                              std::to_string(height) + ", " + std::to_string(frameRateCode) + ")";
    std::vector<std::string> misuses;
    {
        std::lock_guard lock(mutex_);
        if (text == nullptr || *text == '\0')
        {
            misuses.push_back("IIPResolutionList::" + write + ": a resolution needs its text");
        }
        else if (std::string(text) != std::to_string(width) + "x" + std::to_string(height))
        {
            misuses.push_back("IIPResolutionList::" + write + ": the text is not the size it names");
        }
        if (width == 0 || height == 0)
        {
            misuses.push_back("IIPResolutionList::" + write + ": zero-sized");
        }
        if (frameRateCode == 0)
        {
            misuses.push_back("IIPResolutionList::" + write + ": no frame-rate code");
        }
        const bool repeated = std::any_of(resolutions_.begin(), resolutions_.end(),
                                          [&](const CapabilityResolutionRecord& resolution)
                                          { return resolution.width == width && resolution.height == height; });
        if (repeated)
        {
            misuses.push_back("IIPResolutionList::" + write + ": this size is already listed");
        }
        CapabilityResolutionRecord record;
        if (text != nullptr)
        {
            record.text = text;
        }
        record.width = width;
        record.height = height;
        record.frameRateCode = frameRateCode;
        resolutions_.push_back(std::move(record));
        Journal(write, misuses);
    }
    ReportAll(misuses);
    ThrowIfFaulted();
    return misuses.empty();
}

bool HostCapabilityResults::WriteValueList(std::int32_t index, bool isDefault, std::uint32_t value)
{
    const std::string write =
        "list(" + std::to_string(index) + ")." + (isDefault ? "SetDefault(" : "Add(") + std::to_string(value) + ")";
    std::vector<std::string> misuses;
    {
        std::lock_guard lock(mutex_);
        CapabilityValueListRecord& list = valueLists_[index];
        if (isDefault)
        {
            list.defaultValue = value;
        }
        else
        {
            if (std::find(list.values.begin(), list.values.end(), value) != list.values.end())
            {
                misuses.push_back("IIPValueList " + write + ": the value is already listed");
            }
            list.values.push_back(value);
        }
        Journal(write, misuses);
    }
    ReportAll(misuses);
    ThrowIfFaulted();
    return misuses.empty();
}

void HostCapabilityResults::ThrowIfFaulted() const
{
    WriteFault fault = WriteFault::None;
    {
        std::lock_guard lock(mutex_);
        fault = fault_;
    }
    switch (fault)
    {
    case WriteFault::ThrowStdException:
        throw std::runtime_error("HostCapabilityResults: injected write fault");
    case WriteFault::ThrowForeignObject:
        throw ForeignWriteFault{-1};
    case WriteFault::None:
        break;
    }
}

void HostCapabilityResults::SetWriteFault(WriteFault fault)
{
    std::lock_guard lock(mutex_);
    fault_ = fault;
}

void HostCapabilityResults::Seal()
{
    std::lock_guard lock(mutex_);
    sealed_ = true;
}

bool HostCapabilityResults::IsSealed() const
{
    std::lock_guard lock(mutex_);
    return sealed_;
}

void HostCapabilityResults::SetWriteLimit(std::size_t limit)
{
    std::lock_guard lock(mutex_);
    writes_.SetLimit(limit);
}

CapabilitySnapshot HostCapabilityResults::Snapshot() const
{
    std::lock_guard lock(mutex_);
    CapabilitySnapshot snapshot;
    snapshot.values = values_;
    snapshot.deviceName = deviceName_;
    snapshot.connectionItems = connectionItems_;
    snapshot.namedItems = namedItems_;
    snapshot.resolutions = resolutions_;
    snapshot.valueLists = valueLists_;
    snapshot.writes = writes_.Snapshot();
    snapshot.writeCount = writes_.Total();
    return snapshot;
}

std::map<std::int32_t, std::string> HostCapabilityResults::DeviceDetailTexts() const
{
    std::lock_guard lock(mutex_);
    std::map<std::int32_t, std::string> texts;
    for (std::int32_t id = kFirstDeviceDetail; id <= kLastDeviceDetail; ++id)
    {
        const auto found = namedItems_.find(id);
        if (found != namedItems_.end() && found->second.text)
        {
            texts.emplace(id, *found->second.text);
        }
    }
    return texts;
}

bool HostCapabilityResults::WriteDeviceDetails(HostDeviceParams& params) const
{
    const std::map<std::int32_t, std::string> texts = DeviceDetailTexts();
    for (std::int32_t id = kFirstDeviceDetail; id <= kLastDeviceDetail; ++id)
    {
        const auto found = texts.find(id);
        params.SetExtraParam(id, found != texts.end() ? std::optional<std::string>(found->second) : std::nullopt);
    }
    return texts.size() == static_cast<std::size_t>(kLastDeviceDetail - kFirstDeviceDetail + 1);
}
}
