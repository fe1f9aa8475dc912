// What the channels of this camera family share: the HTTP sender for the camera's CGI, the
// stream's name for the host, the privacy masks of the main stream, and the choice of the stream
// profile from the stream capability text an earlier device search wrote for the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channels/base_rtsp_channel.h"
#include "channels/privacy_mask.h"
#include "channels/stream_profile.h"
#include "http/http_sender.h"

namespace kestrav
{
class CCommonChannel : public CBaseRTSPChannel
{
public:
    // The camera's masks and profiles are only read here, never cached: a change the host
    // makes takes effect at the next (re)open.
    static constexpr std::int32_t kRtspPortParam = 4;
    static constexpr std::int32_t kStreamCapabilityParam = 5;
    static constexpr std::uint16_t kDefaultRtspPort = 554;

    CCommonChannel(std::uint32_t channel, IDriver* driver, ipcapture::IIPFrameSink* sink);
    ~CCommonChannel() override;

    // Only the main stream carries masks; the list always ends with four entries.
    void SetPrivacyMasks(ipcapture::IIPPrivacyMaskSource* masks) override;
    const std::vector<PrivacyMask>& GetPrivacyMasks() const { return m_privacyMasks; }

    // IMediaParserClient: "<driver>::RecStream", "::LiveStream" or "::RemoteStream".
    std::string GetStreamName() override;

    // The codec entries of this channel's stream kind.
    std::vector<CodecCapability> GetStreamCodecs();
    // The resolution nearest to the host's requested size, as the capability text names it.
    std::string SelectResolution(std::uint32_t codecId, bool upperCase);
    // The host's frame rate, capped by the chosen resolution's maximum (0 when it is unknown).
    std::uint32_t SelectFrameRate(std::uint32_t codecId);
    // H.264 bit rate and JPEG quality from the chosen resolution's sets and the host's level.
    std::uint32_t SelectBitRate();
    std::uint32_t SelectQuality();

protected:
    bool PrepareStreaming() override;
    // The codec channel's stream configuration request; true when the camera took it.
    virtual bool ConfigureStream() = 0;
    // A capture thread may be waiting for the camera's answer.
    void WakeCaptureThread() override;

    // A GET of a CGI path through this channel's sender; false unless the camera answered 2xx.
    bool SendCameraRequest(const std::string& path);
    // The camera's RTSP port from the host's extra parameter 4; 554 when it is missing, 0 or
    // not a port number.
    std::uint16_t GetRtspPort();

private:
    // What the camera made of the last request, for the log.
    struct RequestOutcome
    {
        std::string path;
        std::uint32_t status = 0;
        std::uint32_t error = 0;
    };

    void ReportConfigurationFailure();
    std::optional<ResolutionCapability> FindChosenResolution(std::uint32_t codecId);
    void ReportMissingCapability(std::uint32_t codecId);
    void SendPrivacyMasks();

    Web::CHttpSender m_sender;
    std::vector<PrivacyMask> m_privacyMasks;
    bool m_missingCapabilityReported = false;
    RequestOutcome m_lastRequest;
};
}
