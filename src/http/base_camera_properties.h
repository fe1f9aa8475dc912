// What one camera is and can stream, as a device search reports it into the host's result container.
//
// The base holds the per-stream lists derived from the capability record and all reporting; the camera
// family's class asks the camera and writes its own texts (ReportDeviceDetails).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <brantel/capability_query.h>

#include "core/device_capabilities.h"
#include "core/device_info.h"
#include "http/camera_answer_readers.h"
#include "runtime/event.h"

namespace kestrav
{
// Stream kinds of the derived lists.
constexpr std::uint32_t kStreamKindMain = 0;
constexpr std::uint32_t kStreamKindLive = 1;
constexpr std::uint32_t kStreamKindRemote = 2;

class CBaseCameraProperties
{
public:
    // One size a stream kind offers, with the host's code of its highest frame rate.
    struct ResolutionEntry
    {
        std::uint16_t width = 0;
        std::uint16_t height = 0;
        std::uint32_t frameRateCode = 0;

        bool operator==(const ResolutionEntry&) const = default;
    };

    // What one stream kind offers.
    struct KindLists
    {
        std::set<std::uint32_t> codecs;
        std::vector<ResolutionEntry> resolutions; // no two of equal size
        std::set<std::uint32_t> frameRates;       // frames per second
        std::uint32_t defaultFrameRate = 0;       // 0: not set
    };

    // `videoStandard`: 0 for 25 frames per second, any other value for 30.
    CBaseCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard);
    CBaseCameraProperties(const CBaseCameraProperties&) = delete;
    CBaseCameraProperties& operator=(const CBaseCameraProperties&) = delete;

    // Closes a blocked request, so that a query under way returns.
    virtual void CancelRequest() {}
    // The main stream's frame rates into value list 1; false when it has none.
    virtual bool FillFrameRates(ipcapture::IIPValueList& list);
    // The camera family's own texts.
    virtual bool ReportDeviceDetails(ipcapture::IIPCapabilityResults& results) = 0;
    virtual ~CBaseCameraProperties();
    // Reads the camera; blocking. On failure `errorCode` is the query's code (0 not this family, 1 login
    // failed, 2 offline, 3 other) unless the query was aborted, which leaves it alone.
    virtual bool GetCameraProperties(std::uint32_t& errorCode) = 0;
    // The text of the last failure; empty when there is none.
    virtual std::string GetLastErrorText() { return {}; }

    // Any thread, any time: ends the query soon and keeps every later step from running.
    void Abort();
    // Everything found into the host's container; false at the first step that fails.
    bool SaveCapabilities(ipcapture::IIPCapabilityResults* results);

    const KindLists& GetKindLists(std::uint32_t kind) const { return m_kinds[KindIndex(kind)]; }
    // "h264,mpeg,jpeg" of the kind's codecs.
    std::string GetCodecsText(std::uint32_t kind) const;
    // "WxH:code,..." of the kind's resolutions.
    std::string GetResolutionsText(std::uint32_t kind) const;
    // "values=c1,c2,...;default=c" in frame-rate codes.
    std::string GetFrameRatesText(std::uint32_t kind) const;

protected:
    bool IsAborted() { return m_abortEvent.Wait(0); }
    // The derived lists, identity and features from a record read from the camera.
    void ApplyCapabilities(const DeviceCapabilities& capabilities);
    // A named text: name, not editable, flag, and the value ("(none)" when empty).
    static bool WriteNamedText(ipcapture::IIPCapabilityResults& results, std::int32_t id, const std::string& name,
                               const std::string& value, std::uint32_t flag);

    const DEVICE_INFO& GetDeviceInfo() const { return m_device; }
    std::uint32_t GetVideoStandard() const { return m_videoStandard; }

private:
    static std::size_t KindIndex(std::uint32_t kind) { return kind < 3 ? kind : 0; }
    bool WriteMainCodecs(ipcapture::IIPCapabilityResults& results);
    bool WriteMainResolutions(ipcapture::IIPCapabilityResults& results);
    bool WriteFlagsAndTexts(ipcapture::IIPCapabilityResults& results);
    bool WriteKindTexts(ipcapture::IIPCapabilityResults& results, std::uint32_t kind, std::int32_t firstId,
                        const char* label);

    std::string m_manufacturer;
    std::string m_modelName;
    CAudioCapabilities m_audioInput;
    CAudioCapabilities m_audioOutput;
    std::uint32_t m_secondaryFeatureKind = 0; // 0 none, 1 or 2
    std::uint32_t m_secondaryFeatureCount = 0;
    std::uint32_t m_extraStreamCount = 0;
    bool m_ptzSupported = false;
    bool m_featureA = false;
    // Reported by the generic layer only; this camera family never sets them.
    bool m_furtherFlag11 = false;
    bool m_furtherFlag12 = false;
    DEVICE_INFO m_device;
    std::uint32_t m_videoStandard;
    // Manual reset and never reset: an abort stays in force once given.
    CManualEvent m_abortEvent;
    std::uint32_t m_inputCount = 0;
    std::uint32_t m_outputCount = 0;
    // 0 until a record has been applied.
    std::uint32_t m_codecReportValue = 0;
    KindLists m_kinds[3];
};
}
