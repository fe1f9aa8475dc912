// What an RTSP session needs to know before it starts.
#pragma once

#include <cstdint>
#include <string>

#include "rtsp/rtsp_response_parser.h"

namespace kestrav
{
// RTP over UDP, or interleaved in the RTSP connection.
constexpr int kTransportUdp = 0;
constexpr int kTransportInterleaved = 2;

struct RTSPSessionParams
{
    std::uint16_t rtspPort = 554;
    std::uint16_t clientRtpPort = 0;
    std::uint16_t clientRtcpPort = 0;
    std::string deviceAddress;
    std::string userName;
    std::string password;
    std::uint32_t connectTimeoutMs = 5000;
    std::uint32_t receiveTimeoutMs = 5000;
    std::uint32_t receiveBufferSize = 65536;
    std::uint32_t sendTimeoutMs = 1000;
    std::uint32_t defaultSessionTimeoutS = 60;
    RtspAuthScheme authScheme = RtspAuthScheme::None;
    std::string streamPath;
    MediaKind mediaKind = MediaKind::Video;
    std::string rangeText;
};
}
