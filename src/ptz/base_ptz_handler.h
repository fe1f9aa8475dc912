// The host's entry to PTZ for one device: it hands out each channel's PTZ control, created on the first
// request after the device's preset file was opened, and owns the controls and the file.
#pragma once

#include <brantel/ptz_driver.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ptz/base_ptz_control.h"
#include "ptz/xml_preposition_reader.h"
#include "runtime/smart_ptr.h"

namespace kestrav
{
class IDriver;

class CIPPTZDriverIf : public IIPPTZDriverEx
{
public:
    IIPPTZApi* GetPTZApi(std::uint32_t channel) override { return GetPTZApiEx(channel); }
};

// Hosts ask from several threads: the first requests are serialised, so one control is made per channel.
class CBasePTZHandler : public CIPPTZDriverIf
{
public:
    // `driver` is not owned.
    CBasePTZHandler(IDriver* driver, std::string rootName);
    CBasePTZHandler(const CBasePTZHandler&) = delete;
    CBasePTZHandler& operator=(const CBasePTZHandler&) = delete;
    // Deletes the controls, then lets go of the preset file; every change was saved when it was made.
    ~CBasePTZHandler() override;

    // Nothing unwinds into the host: a control that cannot be made is null.
    IIPPTZApiEx* GetPTZApiEx(std::uint32_t channel) override;
    // The channel's control, created on the first request; null when it cannot be had.
    virtual CBasePTZControl* GetPTZControl(std::uint32_t channel);

    // The preset file's name; empty when there is none to be had.
    virtual void GetXMLStorageFileName(std::string& name) = 0;
    virtual CBasePTZControl* CreatePTZControl(std::uint32_t channel) = 0;
    virtual void ReleaseControls();
    // Creates and opens the preset file object; false (and logged) when there is no file.
    virtual bool InitializeXMLStorage();

protected:
    IDriver* GetDriver() const { return m_driver; }
    const std::string& GetRootName() const { return m_rootName; }

private:
    IDriver* const m_driver;
    std::recursive_mutex m_lock;
    std::map<std::uint32_t, std::unique_ptr<CBasePTZControl>> m_controls;
    const std::uint32_t m_channelCount = 1;
    TSmartPtr<CXMLPrepositionReader> m_store;
    const std::string m_rootName;
};
}
