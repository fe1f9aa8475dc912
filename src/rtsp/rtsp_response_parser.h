// The fields of RTSP responses, and of the session description that answers DESCRIBE, that one
// client session needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/parameter_sets.h"

namespace kestrav
{
enum class RtspRequestType
{
    Describe = 1,
    Setup = 2,
    Play = 3,
    Teardown = 4,
    SetParameter = 5, // the keep-alive
    Pause = 6,
    // Keep-alives for cameras that refuse SET_PARAMETER.
    GetParameter = 7,
    Options = 8,
};

// The method as it goes on the request line.
const char* RtspMethodName(RtspRequestType type);

// Ordered by strength: a response offering several schemes is taken at its strongest.
enum class RtspAuthScheme
{
    None = 0,
    Basic = 1,
    Digest = 2,
};

enum class MediaKind
{
    None = 0,
    Video = 1,
    Audio = 2,
    Metadata = 3, // "metadata", "data" or "application"
};

// Longest header block (status line to blank line) accepted. A response reader should not read more
// than this before it has seen the blank line.
constexpr std::size_t kMaxRtspHeaderLength = 16 * 1024;

// One parser serves a whole session: every response is parsed into it, and a field keeps the value
// of the last response that gave one (a later SETUP answer leaves the DESCRIBE's control URLs alone).
class CRTSPResponseParser
{
public:
    CRTSPResponseParser() = default;
    virtual ~CRTSPResponseParser() = default;
    CRTSPResponseParser(const CRTSPResponseParser&) = default;
    CRTSPResponseParser& operator=(const CRTSPResponseParser&) = default;
    CRTSPResponseParser(CRTSPResponseParser&&) = default;
    CRTSPResponseParser& operator=(CRTSPResponseParser&&) = default;

    // Every field empty or 0; for the start of a session.
    void Reset();

    // `response` is one whole response: headers, blank line and Content-Length bytes of body. True
    // for status 200 or 401 with well-formed headers and, for a 200 answer to DESCRIBE, a usable
    // session description. The status code is stored even when the parse fails.
    bool Parse(std::string_view response, RtspRequestType requestType);

    // Before a response is read: a status of 0 afterwards means no status line was read.
    void ForgetStatus() { m_statusCode = 0; }

    const std::string& GetProtocol() const { return m_protocol; }
    std::uint32_t GetStatusCode() const { return m_statusCode; }
    // The request counter: the last response's CSeq, advanced by the client for each request.
    std::uint32_t GetCSeq() const { return m_cseq; }
    // Advances the counter and gives the value for the next request.
    std::uint32_t IncrementCSeq() { return ++m_cseq; }
    // An "rtsp://" URL as the camera wrote it (with or without a trailing slash), or empty.
    const std::string& GetContentBase() const { return m_contentBase; }
    // Lower case, first token only.
    const std::string& GetContentType() const { return m_contentType; }
    std::uint32_t GetContentLength() const { return m_contentLength; }
    const std::string& GetSessionId() const { return m_sessionId; }
    // Seconds; 0 while no response announced one.
    std::int32_t GetSessionTimeout() const { return m_sessionTimeout; }

    // "a=control" of the media, as received (relative, absolute or "*"); empty for MediaKind::None.
    const std::string& GetControl(MediaKind kind) const;
    // The third field of the media's "m=" line, such as "RTP/AVP".
    const std::string& GetTransportProfile(MediaKind kind) const;

    // The scheme of the last challenge (none until a 401 offered one), with its realm and nonce
    // unquoted.
    RtspAuthScheme GetAuthScheme() const { return m_authScheme; }
    const std::string& GetRealm() const { return m_realm; }
    const std::string& GetNonce() const { return m_nonce; }
    // Of the last Digest challenge: its opaque value (empty when none) and whether its qop list
    // offers "auth".
    const std::string& GetOpaque() const { return m_opaque; }
    bool OffersQopAuth() const { return m_qopAuth; }

    // From the Transport header's "server_port"; 0 until an answer named them.
    std::uint16_t GetServerRTPPort() const { return m_serverRTPPort; }
    std::uint16_t GetServerRTCPPort() const { return m_serverRTCPPort; }
    // From the Transport header's "interleaved"; 0 and 1 until an answer named others.
    std::uint8_t GetRTPChannel() const { return m_rtpChannel; }
    std::uint8_t GetRTCPChannel() const { return m_rtcpChannel; }

    const ParameterSets& GetParameterSets() const { return m_parameterSets; }

private:
    struct MediaDescription
    {
        std::string control;
        std::string transportProfile;
    };

    bool ParseHeader(std::string_view line, bool& challengeSeen);
    bool ParseCSeq(std::string_view line);
    bool ParseContentBase(std::string_view line);
    bool ParseContentType(std::string_view line);
    bool ParseContentLength(std::string_view line);
    bool ParseTransport(std::string_view line);
    bool ParseChannelPair(std::string_view transport);
    bool ParseSession(std::string_view line);
    bool ParseAuthenticate(std::string_view line, bool& challengeSeen);

    bool ParseSessionDescription(std::string_view body);
    bool ParseMediaLine(std::string_view value, MediaKind& kind);
    bool ParseControlLine(std::string_view attribute, MediaKind kind);
    bool ParseVideoFormat(std::string_view line);

    std::string m_protocol;
    std::uint32_t m_statusCode = 0;
    std::uint32_t m_cseq = 0;
    std::string m_contentBase;
    std::string m_contentType;
    std::uint32_t m_contentLength = 0;
    std::string m_sessionId;
    std::int32_t m_sessionTimeout = 0;
    std::array<MediaDescription, 3> m_media; // video, audio, metadata
    RtspAuthScheme m_authScheme = RtspAuthScheme::None;
    std::string m_realm;
    std::string m_nonce;
    std::string m_opaque;
    bool m_qopAuth = false;
    std::uint16_t m_serverRTPPort = 0;
    std::uint16_t m_serverRTCPPort = 0;
    std::uint8_t m_rtpChannel = 0;
    std::uint8_t m_rtcpChannel = 1;
    ParameterSets m_parameterSets;
};
}
