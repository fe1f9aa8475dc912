// A result container that keeps the last write of every field, for the report tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <brantel/capability_query.h>

namespace kestrav::testing
{
class RecordingResults final : public ipcapture::IIPCapabilityResults
{
public:
    struct Item final : ipcapture::IIPCapabilityItem
    {
        bool SetText(const char* value) override { return (text = value, true); }
        void ReservedSlot2() override {}
        void ReservedSlot3() override {}
        bool SetFlag(std::int32_t value) override { return (flag = value, true); }
        bool SetName(const char* value) override { return (name = value, true); }
        bool SetEditable(std::int32_t value) override { return (editable = value, true); }

        std::string text;
        std::int32_t flag = -1;
        std::string name;
        std::int32_t editable = -1;
    };
    struct Resolution
    {
        std::string text;
        std::uint32_t width, height, frameRateCode;
        bool operator==(const Resolution&) const = default;
    };
    struct Resolutions final : ipcapture::IIPResolutionList
    {
        bool Add(const char* text, std::uint32_t width, std::uint32_t height, std::uint32_t code) override
        {
            entries.push_back({text, width, height, code});
            return true;
        }
        std::vector<Resolution> entries;
    };
    struct Values final : ipcapture::IIPValueList
    {
        bool SetDefault(std::uint32_t value) override { return (defaultValue = value, true); }
        bool Add(std::uint32_t value) override { return (values.push_back(value), true); }
        std::vector<std::uint32_t> values;
        std::int64_t defaultValue = -1;
    };

    bool SetValue(std::uint32_t id, std::uint32_t value) override { return (values[id] = value, true); }
    bool SetDeviceName(const char* name) override { return (deviceName = name, true); }
    ipcapture::IIPCapabilityItem* GetConnectionItem(std::int32_t index) override { return &connection[index]; }
    void ReservedSlot4() override {}
    ipcapture::IIPCapabilityItem* GetNamedItem(std::int32_t id) override { return &named[id]; }
    ipcapture::IIPResolutionList* GetResolutionList() override { return &resolutions; }
    void ReservedSlot7() override {}
    ipcapture::IIPValueList* GetValueList(std::int32_t index) override { return &lists[index]; }

    std::map<std::uint32_t, std::uint32_t> values;
    std::string deviceName;
    std::map<std::int32_t, Item> connection;
    std::map<std::int32_t, Item> named;
    Resolutions resolutions;
    std::map<std::int32_t, Values> lists;
};
}
