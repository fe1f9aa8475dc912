// The camera family's identity and profile queries ("/server", "/getprofile") for one device search.
#pragma once

#include <cstdint>
#include <string>

#include "http/abortable_http_transport.h"
#include "http/base_camera_properties.h"
#include "http/http_sender.h"
#include "runtime/result_def.h"

namespace kestrav
{
class CVaronCameraProperties : public CBaseCameraProperties
{
public:
    CVaronCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard);
    // A sender over another transport, for tests.
    CVaronCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard, platform::IHttpTransport& transport);
    ~CVaronCameraProperties() override;

    void CancelRequest() override;
    bool ReportDeviceDetails(ipcapture::IIPCapabilityResults& results) override;
    bool GetCameraProperties(std::uint32_t& errorCode) override;
    std::string GetLastErrorText() override { return m_lastResult.GetText(); }

    const CResultDef& GetLastResult() const { return m_lastResult; }
    // The record as read from the camera (the configuration's record until then).
    const DeviceCapabilities& GetCapabilities() const { return m_capabilities; }

    static constexpr const char* kAbortedText = "Capability search query was aborted";
    // The "/getprofile" answer named no profile of a known size.
    static constexpr std::int32_t kResultNoProfiles = 13;

private:
    // Result code 0 with the answer in `body`, or the HTTP layer's failure.
    CResultDef Get(const char* path, std::string& body);
    CResultDef QueryIdentity();
    CResultDef QueryProfiles();

    CResultDef m_lastResult;
    // Before the sender, which opens its session through it.
    CAbortableHttpTransport m_transport;
    Web::CHttpSender m_sender;
    DeviceCapabilities m_capabilities;
};
}
