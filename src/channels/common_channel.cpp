#include "channels/common_channel.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include <brantel/channel_params.h>

#include "core/driver_services.h"
#include "core/stream_capability_text.h"
#include "http/http_utils.h"
#include "platform/http_transport.h"
#include "runtime/format_string.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kMaskCount = 4;

std::string ToUpper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}
}

CCommonChannel::CCommonChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink)
    : CBaseRTSPChannel(channel, driver, sink), m_sender(*driver->GetDeviceInfo())
{
}

CCommonChannel::~CCommonChannel()
{
    // A camera request under way would hold the stop for the whole request time-out.
    m_sender.CloseRequest();
    StopChannelThreads();
}

void CCommonChannel::WakeCaptureThread()
{
    CBaseRTSPChannel::WakeCaptureThread();
    m_sender.CloseRequest();
}

void CCommonChannel::SetPrivacyMasks(ipcapture::IIPPrivacyMaskSource* masks)
{
    if (GetStartParams().streamKind != kStreamMain)
        return;
    m_privacyMasks.clear();
    for (std::uint32_t index = 0; index < kMaskCount; ++index)
    {
        ipcapture::IIPPrivacyMask* mask = masks != nullptr ? masks->GetMask(static_cast<std::int32_t>(index)) : nullptr;
        if (mask == nullptr)
            m_privacyMasks.push_back(PrivacyMask{});
        else
            m_privacyMasks.push_back(
                PrivacyMaskFromPercent(mask->GetLeft(), mask->GetTop(), mask->GetWidth(), mask->GetHeight()));
    }
}

bool CCommonChannel::PrepareStreaming()
{
    if (StopEvent().Wait(0))
        return false;
    if (!ConfigureStream())
    {
        // A stop closes the request: that is no failure of the camera.
        if (!StopEvent().Wait(0))
            ReportConfigurationFailure();
        return false;
    }
    if (GetStartParams().streamKind == kStreamMain)
        SendPrivacyMasks();
    return true;
}

// Failed mask requests are not reported: the stream is more important than its masks.
void CCommonChannel::SendPrivacyMasks()
{
    std::uint32_t number = 1;
    for (const PrivacyMask& mask : m_privacyMasks)
    {
        if (StopEvent().Wait(0))
            return;
        SendCameraRequest(PrivacyMaskRequest(number++, mask));
    }
}

bool CCommonChannel::SendCameraRequest(const std::string& path)
{
    const bool taken = HUtils::RequestGet(m_sender, path);
    m_lastRequest = RequestOutcome{path, m_sender.GetStatusCode(), m_sender.GetLastError()};
    return taken;
}

// The camera's status, or why there was none: a time-out or a refused connection points at the
// network or a camera that is down, garbage or a closed connection at the camera itself.
void CCommonChannel::ReportConfigurationFailure()
{
    std::string kind;
    std::string answer;
    if (m_lastRequest.status != 0)
    {
        kind = FormatString("config-status-%u", m_lastRequest.status);
        answer = FormatString("HTTP status %u%s", m_lastRequest.status,
                              m_lastRequest.status == 401 ? ", the credentials were not accepted" : "");
    }
    else
    {
        kind = FormatString("config-error-%u", m_lastRequest.error);
        switch (m_lastRequest.error)
        {
        case platform::kHttpErrorTimeout:
            answer = FormatString("no answer within %u ms", GetDriver()->GetDeviceInfo()->requestTimeoutMs);
            break;
        case platform::kHttpErrorCannotConnect:
            answer = "the connection was refused, or the camera cannot be reached";
            break;
        case platform::kHttpErrorConnectionError:
            answer = "the connection was closed without an answer";
            break;
        case platform::kHttpErrorInvalidServerResponse:
            answer = "the answer was not HTTP";
            break;
        case platform::kHttpErrorNameNotResolved:
            answer = "the address does not resolve";
            break;
        case platform::kHttpErrorSecureFailure:
            answer = "the HTTPS handshake failed";
            break;
        default:
            answer = FormatString("no answer (error %u)", m_lastRequest.error);
            break;
        }
    }
    ReportStreamFailure(kind, "kestrav::CCommonChannel::PrepareStreaming",
                        FormatString("%s%s did not take the stream configuration \"%s\": %s", DeviceText().c_str(),
                                     StreamSuffix().c_str(), m_lastRequest.path.c_str(), answer.c_str()));
}

std::uint16_t CCommonChannel::GetRtspPort()
{
    // Only the low 16 bits would turn 70000 into port 4464: anything that is not a port is ignored.
    const std::int32_t port = GetDriver()->GetParamInt(kRtspPortParam);
    return port > 0 && port <= 65535 ? static_cast<std::uint16_t>(port) : kDefaultRtspPort;
}

std::string CCommonChannel::GetStreamName()
{
    static constexpr const char* kSuffixes[] = {"::RecStream", "::LiveStream", "::RemoteStream"};
    const std::uint32_t kind = GetStartParams().streamKind;
    std::string name = GetDriver()->GetDriverName();
    if (kind < std::size(kSuffixes))
        name += kSuffixes[kind];
    return name;
}

std::vector<CodecCapability> CCommonChannel::GetStreamCodecs()
{
    return ReadStreamCodecs(GetDriver()->GetParamString(kStreamCapabilityParam), GetStartParams().streamKind);
}

std::string CCommonChannel::SelectResolution(std::uint32_t codecId, bool upperCase)
{
    const ChannelStartParams& request = GetStartParams();
    const ResolutionMap resolutions = CollectResolutions(GetStreamCodecs(), codecId);
    if (resolutions.empty())
        ReportMissingCapability(codecId);
    const std::string name = NearestResolution(resolutions, request.width, request.height);
    return upperCase ? ToUpper(name) : name;
}

// The request still goes out as the camera takes it without a resolution; but a host that forgot
// to fill in the capabilities should hear of it, once.
void CCommonChannel::ReportMissingCapability(std::uint32_t codecId)
{
    if (m_missingCapabilityReported)
        return;
    m_missingCapabilityReported = true;
    static constexpr const char* kStreams[] = {"recording", "live", "remote"};
    const std::uint32_t kind = GetStartParams().streamKind;
    GetDriver()->SendDebugMessage(kLogWarning,
                                  "%s: The stream capabilities have no %s entry for the %s stream of %s; the camera "
                                  "is asked without a resolution",
                                  "kestrav::CCommonChannel::SelectResolution",
                                  codecId == kCapabilityCodecJpeg ? "JPEG" : "H.264",
                                  kind < std::size(kStreams) ? kStreams[kind] : "unknown", DeviceText().c_str());
}

std::uint32_t CCommonChannel::SelectFrameRate(std::uint32_t codecId)
{
    const std::optional<ResolutionCapability> resolution = FindChosenResolution(codecId);
    const std::uint32_t maximum = resolution ? resolution->maxFrameRate : 0;
    return std::min(maximum, FrameRateFromCode(GetStartParams().frameRateCode));
}

std::uint32_t CCommonChannel::SelectBitRate()
{
    const std::optional<ResolutionCapability> resolution = FindChosenResolution(kCapabilityCodecH264);
    return resolution ? NearestToLevel(resolution->bitRates, GetStartParams().quality) : 0;
}

std::uint32_t CCommonChannel::SelectQuality()
{
    const std::optional<ResolutionCapability> resolution = FindChosenResolution(kCapabilityCodecJpeg);
    return resolution ? NearestToLevel(resolution->qualities, GetStartParams().quality) : 0;
}

// Looked up by the name as the capability text writes it, so that a camera naming its
// resolutions in capitals still gets its frame rate.
std::optional<ResolutionCapability> CCommonChannel::FindChosenResolution(std::uint32_t codecId)
{
    const ResolutionMap resolutions = CollectResolutions(GetStreamCodecs(), codecId);
    const ChannelStartParams& request = GetStartParams();
    const auto found = resolutions.find(NearestResolution(resolutions, request.width, request.height));
    if (found == resolutions.end())
        return std::nullopt;
    return found->second;
}
}
