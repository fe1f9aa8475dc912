// The PTZ control the host holds for one camera channel: movements go to the channel's command object,
// named presets to its preset list, and one Stop ends every kind of movement started.
#pragma once

#include <brantel/ptz_api.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "ptz/base_ptz_comm.h"
#include "ptz/preposition_list.h"
#include "ptz/xml_preposition_reader.h"
#include "runtime/smart_ptr.h"

namespace kestrav
{
class IDriver;

// The host may call from any thread: the command queue and the list's lock guard the shared state,
// and the activity flags are atomic.
class CBasePTZControl : public IIPPTZApiEx, public IIPParams
{
public:
    // `driver` is not owned; `channel` counts from 0.
    CBasePTZControl(IDriver* driver, std::int32_t channel);
    CBasePTZControl(const CBasePTZControl&) = delete;
    CBasePTZControl& operator=(const CBasePTZControl&) = delete;
    ~CBasePTZControl() override;

    // IIPPTZApi
    std::int32_t IsPTZSupported() override;
    std::int32_t Move(std::int32_t direction, std::int32_t speed) override;
    std::int32_t Stop() override;
    std::int32_t Center(std::int32_t x, std::int32_t y, std::int32_t speed) override;
    std::int32_t ZoomMinus(std::int32_t speed) override;
    std::int32_t ZoomPlus(std::int32_t speed) override;
    std::int32_t Unzoom(std::int32_t speed) override;
    std::int32_t AreaZoom(std::int32_t x, std::int32_t y, std::int32_t z, std::int32_t speed) override;
    std::int32_t FocusMinus(std::int32_t speed) override;
    std::int32_t FocusPlus(std::int32_t speed) override;
    std::int32_t IrisPlus(std::int32_t speed) override;
    std::int32_t IrisMinus(std::int32_t speed) override;
    std::int32_t GetCapabilities(PTZCapabilityRecord* record) override;
    std::int32_t GetPresetCount() override;
    std::int32_t GetPresetName(std::int32_t index, char* buffer, std::uint32_t size) override;
    std::int32_t GotoPreset(std::int32_t value, const char* name) override;
    std::int32_t SavePreset(const char* name) override;
    std::int32_t DeletePreset(const char* name) override;
    std::int32_t GetCurrentPreset(char* buffer, std::uint32_t size) override;
    // IIPPTZApiEx
    std::int32_t HasFeature(std::int32_t feature) override;

    // IIPParams
    std::int32_t GetChannelIndex() override { return m_channel; }
    bool GetFirstFlag() override { return m_firstFlag; }
    void SetFirstFlag(bool on) override { m_firstFlag = on; }
    bool GetSecondFlag() override { return m_secondFlag; }
    void SetSecondFlag(bool on) override { m_secondFlag = on; }

    // Closes and deletes the command object.
    virtual void Close();
    // A new command object, or null.
    virtual CBasePTZComm* CreatePTZComm() = 0;
    // Creates and opens the command object and loads the presets from `storage`; false leaves the
    // control closed.
    virtual bool Open(const TSmartPtr<CXMLPrepositionReader>& storage);

protected:
    IDriver* GetDriver() const { return m_driver; }

private:
    // Movement results of the command object; on kPtzDone the camera leaves its preset and `flag` is set.
    std::int32_t Started(std::int32_t result, std::atomic<bool>* flag);
    std::int32_t StartMove(std::int32_t direction, std::int32_t speed);
    static std::int32_t CopyName(const std::string& name, char* buffer, std::uint32_t size);

    IDriver* const m_driver;
    const std::int32_t m_channel;
    std::unique_ptr<CBasePTZComm> m_comm;
    CPrepositionList m_prepositions;
    std::atomic<bool> m_firstFlag{false};
    std::atomic<bool> m_secondFlag{false};
    std::atomic<bool> m_zooming{false};
    std::atomic<bool> m_focusing{false};
    std::atomic<bool> m_irisChanging{false};
    std::atomic<bool> m_moving{false};
};
}
