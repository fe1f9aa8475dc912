#include "http/varon_camera_properties.h"

#include <vector>

#include "core/configuration.h"
#include "core/device_detail_texts.h"
#include "http/http_utils.h"

namespace kestrav
{
namespace
{
constexpr const char* kDriverName = "BrantelIPCapture";
constexpr std::int32_t kLevelAborted = 2;
constexpr std::int32_t kCodeAborted = 2;
}

CVaronCameraProperties::CVaronCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard)
    : CVaronCameraProperties(device, videoStandard, platform::DefaultHttpTransport())
{
}

CVaronCameraProperties::CVaronCameraProperties(const DEVICE_INFO& device, std::uint32_t videoStandard,
                                               platform::IHttpTransport& transport)
    : CBaseCameraProperties(device, videoStandard), m_transport(transport), m_sender(device, m_transport)
{
}

CVaronCameraProperties::~CVaronCameraProperties() = default;

void CVaronCameraProperties::CancelRequest()
{
    // First the transport, then the sender: see CAbortableHttpTransport.
    m_transport.Abort();
    m_sender.CloseRequest();
}

CResultDef CVaronCameraProperties::Get(const char* path, std::string& body)
{
    std::vector<std::uint8_t> bytes;
    CResultDef result;
    HUtils::RequestGetRD(m_sender, bytes, result, path, true);
    body.assign(bytes.begin(), bytes.end());
    return result;
}

CResultDef CVaronCameraProperties::QueryIdentity()
{
    std::string body;
    CResultDef result = Get("/server", body);
    if (result.GetCode() == 0)
        ReadServerAnswer(body, m_capabilities);
    return result;
}

CResultDef CVaronCameraProperties::QueryProfiles()
{
    std::string body;
    CResultDef result = Get("/getprofile", body);
    if (result.GetCode() != 0)
        return result;
    ReadProfileAnswer(body, m_capabilities);
    if (m_capabilities.streams.empty())
    {
        result.SetResult(static_cast<std::int32_t>(kLogError), kResultNoProfiles,
                         "Unable to receive and parse profile information (stream capabilities) from device");
    }
    return result;
}

bool CVaronCameraProperties::GetCameraProperties(std::uint32_t& errorCode)
{
    m_capabilities = CConfiguration(GetDeviceInfo(), kDriverName).ReadDeviceCapabilities();
    // The abort event is looked at after every request, and the transport refuses every request opened
    // after an abort, so an abort at any moment ends the query at once.
    if (!IsAborted())
        m_lastResult = QueryIdentity();
    if (!IsAborted() && m_lastResult.GetCode() == 0)
        m_lastResult = QueryProfiles();
    if (!IsAborted() && m_lastResult.GetCode() == 0)
        ApplyCapabilities(m_capabilities);

    if (IsAborted())
    {
        m_lastResult.SetResult(kLevelAborted, kCodeAborted, kAbortedText);
        return false;
    }
    switch (m_lastResult.GetCode())
    {
    case 0:
        return true;
    case HUtils::kHttpResultNotFound:
        errorCode = 0;
        break;
    case HUtils::kHttpResultCredentialsInvalid:
        errorCode = 1;
        break;
    case HUtils::kHttpResultCannotSend:
        errorCode = 2;
        break;
    default:
        errorCode = 3;
        break;
    }
    return false;
}

bool CVaronCameraProperties::ReportDeviceDetails(ipcapture::IIPCapabilityResults& results)
{
    for (const DeviceDetailText& text : MakeDeviceDetailTexts(m_capabilities, GetVideoStandard()))
    {
        if (!WriteNamedText(results, text.id, text.name, text.value, text.flag))
            return false;
    }
    return true;
}
}
