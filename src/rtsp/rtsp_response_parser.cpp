#include "rtsp/rtsp_response_parser.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "text/base64.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kStatusOk = 200;
constexpr std::uint32_t kStatusUnauthorized = 401;
// The protocol token and the content type are read into 255-character fields.
constexpr std::size_t kMaxShortTokenLength = 255;
// Seconds, for a timeout parameter of 0 or one that is not a number.
constexpr std::int32_t kFallbackSessionTimeout = 30;
constexpr std::uint32_t kMaxPort = 65535;
constexpr std::string_view kLineEnd = "\r\n";

enum class HeaderKind
{
    Other,
    CSeq,
    ContentBase,
    ContentType,
    ContentLength,
    Transport,
    Session,
    WWWAuthenticate,
};

struct HeaderName
{
    std::string_view lowerName;
    HeaderKind kind;
};

// Date, Range, RTP-Info, Server, Accept-Ranges and RTCP-Interval carry nothing this client uses; they
// are passed over like any unknown header.
constexpr HeaderName kHandledHeaders[] = {
    {"cseq", HeaderKind::CSeq},
    {"content-base", HeaderKind::ContentBase},
    {"content-type", HeaderKind::ContentType},
    {"content-length", HeaderKind::ContentLength},
    {"transport", HeaderKind::Transport},
    {"session", HeaderKind::Session},
    {"www-authenticate", HeaderKind::WWWAuthenticate},
};

HeaderKind HeaderKindOf(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return HeaderKind::Other;
    const std::string name = ToLowerCopy(TrimBlanks(line.substr(0, colon)));
    for (const HeaderName& handled : kHandledHeaders)
    {
        if (name == handled.lowerName)
            return handled.kind;
    }
    return HeaderKind::Other;
}

// The text before the next CRLF, after which `rest` then starts; nullopt when no CRLF follows.
std::optional<std::string_view> CutLine(std::string_view& rest)
{
    const std::size_t end = rest.find(kLineEnd);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + kLineEnd.size());
    return line;
}

// The header values are read the way a scanf format reads them; these three do its steps on a view.
bool IsScanSpace(char character)
{
    return character == ' ' || character == '\t' || character == '\r' || character == '\n' || character == '\v' ||
           character == '\f';
}

void SkipScanSpace(std::string_view& text)
{
    while (!text.empty() && IsScanSpace(text.front()))
        text.remove_prefix(1);
}

// A blank in the literal matches any run of whitespace, none included; any other character itself.
bool ConsumeLiteral(std::string_view& text, std::string_view literal)
{
    for (const char expected : literal)
    {
        if (expected == ' ')
        {
            SkipScanSpace(text);
            continue;
        }
        if (text.empty() || text.front() != expected)
            return false;
        text.remove_prefix(1);
    }
    return true;
}

// Whitespace, then decimal digits. No sign, and a number beyond 32 bits is refused rather than
// wrapped: a hostile CSeq or Content-Length must not turn into a small plausible one.
std::optional<std::uint32_t> ConsumeNumber(std::string_view& text)
{
    SkipScanSpace(text);
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits)
    {
        value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    text.remove_prefix(digits);
    return static_cast<std::uint32_t>(value);
}

// Whitespace, then the run of other characters; empty at the end of the text.
std::string_view ConsumeToken(std::string_view& text)
{
    SkipScanSpace(text);
    std::size_t length = 0;
    while (length < text.size() && !IsScanSpace(text[length]))
        ++length;
    const std::string_view token = text.substr(0, length);
    text.remove_prefix(length);
    return token;
}

// The number after a header name written in any case, as in "content-length: 120".
std::optional<std::uint32_t> ScanHeaderNumber(std::string_view line, std::string_view lowerPrefix)
{
    const std::string lower = ToLowerCopy(line);
    std::string_view scan = lower;
    if (!ConsumeLiteral(scan, lowerPrefix))
        return std::nullopt;
    return ConsumeNumber(scan);
}

std::int32_t SessionTimeoutOf(std::string_view value)
{
    const std::optional<std::uint32_t> seconds = ConsumeNumber(value);
    if (!seconds || *seconds == 0 || *seconds > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return kFallbackSessionTimeout;
    return static_cast<std::int32_t>(*seconds);
}

// The value after the header name's colon, trimmed; cameras differ on the blank after the colon.
std::string_view HeaderValue(std::string_view line)
{
    const std::size_t colon = line.find(':');
    std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    return value;
}

// A challenge value goes back quoted in the Authorization header: one holding a quote or a control
// character would end that quote early or break the request's lines, so it counts as absent.
bool EchoableValue(std::string_view value)
{
    return std::none_of(value.begin(), value.end(),
                        [](char character)
                        {
                            const auto code = static_cast<unsigned char>(character);
                            return character == '"' || code < 0x20 || code == 0x7f;
                        });
}

// The value of the auth-param `lowerKey` in a challenge's "key=value, key=\"quoted, value\"" list,
// unquoted; a comma inside quotes belongs to the value. Empty when absent.
std::string ChallengeParameter(std::string_view parameters, std::string_view lowerKey)
{
    std::string_view rest = parameters;
    while (!rest.empty())
    {
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t' || rest.front() == ','))
            rest.remove_prefix(1);
        const std::size_t equals = rest.find_first_of("=,");
        if (equals == std::string_view::npos)
            return {};
        const std::string key = ToLowerCopy(TrimBlanks(rest.substr(0, equals)));
        if (rest[equals] == ',')
        {
            rest.remove_prefix(equals);
            continue;
        }
        rest.remove_prefix(equals + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        std::string value;
        if (!rest.empty() && rest.front() == '"')
        {
            const std::size_t close = rest.find('"', 1);
            const std::size_t end = close == std::string_view::npos ? rest.size() : close;
            value = rest.substr(1, end - 1);
            rest.remove_prefix(close == std::string_view::npos ? rest.size() : close + 1);
        }
        else
        {
            const std::size_t end = rest.find(',');
            value = TrimBlanks(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        }
        if (key == lowerKey)
            return EchoableValue(value) ? value : std::string();
    }
    return {};
}

// True when a qop list ("auth", "auth,auth-int") offers plain auth.
bool ListsQopAuth(std::string_view qop)
{
    for (const std::string& option : SplitText(qop, ','))
    {
        if (ToLowerCopy(TrimBlanks(option)) == "auth")
            return true;
    }
    return false;
}

std::optional<std::uint32_t> PortNumber(std::string_view& scan)
{
    const std::optional<std::uint32_t> number = ConsumeNumber(scan);
    if (!number || *number > kMaxPort)
        return std::nullopt;
    return number;
}

// Where `lowerName` first occurs in the lower-cased line, provided that occurrence starts the line or
// follows a blank or tab.
std::optional<std::size_t> FindAttribute(std::string_view lowerLine, std::string_view lowerName)
{
    const std::size_t at = lowerLine.find(lowerName);
    if (at == std::string_view::npos)
        return std::nullopt;
    if (at != 0 && lowerLine[at - 1] != ' ' && lowerLine[at - 1] != '\t')
        return std::nullopt;
    return at;
}

MediaKind MediaKindOf(std::string_view name)
{
    const std::string lower = ToLowerCopy(name);
    if (lower == "video")
        return MediaKind::Video;
    if (lower == "audio")
        return MediaKind::Audio;
    if (lower == "metadata" || lower == "data" || lower == "application")
        return MediaKind::Metadata;
    return MediaKind::None;
}

std::vector<std::uint8_t> DecodeBase64Set(std::string_view text)
{
    return Base64Decode(text, kParameterSetCapacity).value_or(std::vector<std::uint8_t>{});
}

std::vector<std::uint8_t> DecodeHexConfig(std::string_view text)
{
    if (text.size() / 2 + text.size() % 2 > kParameterSetCapacity)
        return {};
    return HexDecode(text);
}
}

void CRTSPResponseParser::Reset()
{
    *this = CRTSPResponseParser();
}

const std::string& CRTSPResponseParser::GetControl(MediaKind kind) const
{
    static const std::string kNone;
    return kind == MediaKind::None ? kNone : m_media[static_cast<std::size_t>(kind) - 1].control;
}

const std::string& CRTSPResponseParser::GetTransportProfile(MediaKind kind) const
{
    static const std::string kNone;
    return kind == MediaKind::None ? kNone : m_media[static_cast<std::size_t>(kind) - 1].transportProfile;
}

bool CRTSPResponseParser::Parse(std::string_view response, RtspRequestType requestType)
{
    std::string_view rest = response;
    std::string_view statusLine = rest;
    if (const std::optional<std::string_view> line = CutLine(rest))
        statusLine = *line;
    else
        rest = {};

    std::string_view scan = statusLine;
    const std::string_view protocol = ConsumeToken(scan);
    const std::optional<std::uint32_t> statusCode = ConsumeNumber(scan);
    if (protocol.empty() || protocol.size() > kMaxShortTokenLength || !statusCode)
        return false;
    m_protocol = protocol;
    m_statusCode = *statusCode;
    // A 401 is read like a success: the client needs its challenge.
    if (m_statusCode != kStatusOk && m_statusCode != kStatusUnauthorized)
        return false;

    bool challengeSeen = false;
    for (;;)
    {
        const std::optional<std::string_view> line = CutLine(rest);
        // Headers that run to the end of the text without a blank line were cut short.
        if (!line || response.size() - rest.size() > kMaxRtspHeaderLength)
            return false;
        if (line->empty())
            break;
        if (!ParseHeader(*line, challengeSeen))
            return false;
    }

    // Without a Content-Length header the length of an earlier response applies; a reader that took
    // only this response's bytes makes the body at most what follows the blank line.
    const std::string_view body = rest.substr(0, m_contentLength);
    // Only a 200 answer carries a session description; the body of a 401 (some cameras send an HTML
    // page) is no SDP and must not make the challenge unreadable.
    if (requestType == RtspRequestType::Describe && m_statusCode == kStatusOk)
        return ParseSessionDescription(body);
    return true;
}

bool CRTSPResponseParser::ParseHeader(std::string_view line, bool& challengeSeen)
{
    switch (HeaderKindOf(line))
    {
    case HeaderKind::CSeq:
        return ParseCSeq(line);
    case HeaderKind::ContentBase:
        return ParseContentBase(line);
    case HeaderKind::ContentType:
        return ParseContentType(line);
    case HeaderKind::ContentLength:
        return ParseContentLength(line);
    case HeaderKind::Transport:
        return ParseTransport(line);
    case HeaderKind::Session:
        return ParseSession(line);
    case HeaderKind::WWWAuthenticate:
        return ParseAuthenticate(line, challengeSeen);
    case HeaderKind::Other:
        break;
    }
    return true;
}

bool CRTSPResponseParser::ParseCSeq(std::string_view line)
{
    const std::optional<std::uint32_t> cseq = ScanHeaderNumber(line, "cseq: ");
    if (!cseq)
        return false;
    m_cseq = *cseq;
    return true;
}

bool CRTSPResponseParser::ParseContentBase(std::string_view line)
{
    const std::string_view value = HeaderValue(line);
    const std::size_t urlAt = value.find("rtsp://");
    if (urlAt != std::string_view::npos)
        m_contentBase = TrimBlanks(value.substr(urlAt));
    return true;
}

bool CRTSPResponseParser::ParseContentType(std::string_view line)
{
    const std::string lower = ToLowerCopy(line);
    std::string_view scan = lower;
    if (!ConsumeLiteral(scan, "content-type: "))
        return false;
    const std::string_view type = ConsumeToken(scan);
    if (type.empty())
        return false;
    m_contentType = type.substr(0, kMaxShortTokenLength);
    return true;
}

bool CRTSPResponseParser::ParseContentLength(std::string_view line)
{
    const std::optional<std::uint32_t> length = ScanHeaderNumber(line, "content-length: ");
    if (!length)
        return false;
    m_contentLength = *length;
    return true;
}

bool CRTSPResponseParser::ParseTransport(std::string_view line)
{
    const std::string value(HeaderValue(line));
    if (!ParseChannelPair(value))
        return false;
    const std::string ports = FindKeyValue("server_port", "=", value, ";\r\n");
    if (ports.empty())
        return true;
    // Whatever follows the port numbers is ignored: some cameras (Victure PC730 among them) run the
    // next parameter on with a comma, "server_port=40000-40001,ssrc=FFFFCCCC".
    std::string_view scan = ports;
    // A number beyond 16 bits is no port; truncated it would aim RTCP at some other port.
    const std::optional<std::uint32_t> rtpPort = PortNumber(scan);
    if (!rtpPort)
        return false;
    std::optional<std::uint32_t> rtcpPort;
    if (ConsumeLiteral(scan, "-"))
        rtcpPort = PortNumber(scan);
    else if (*rtpPort < kMaxPort)
        rtcpPort = *rtpPort + 1; // a single port names the RTP one; RTCP takes the next (RFC 2326, 12.39)
    if (!rtcpPort)
        return false;
    m_serverRTPPort = static_cast<std::uint16_t>(*rtpPort);
    m_serverRTCPPort = static_cast<std::uint16_t>(*rtcpPort);
    return true;
}

bool CRTSPResponseParser::ParseChannelPair(std::string_view transport)
{
    const std::string channels = FindKeyValue("interleaved", "=", transport, ";,\r\n");
    if (channels.empty())
        return true;
    std::string_view scan = channels;
    const std::optional<std::uint32_t> rtp = ConsumeNumber(scan);
    std::optional<std::uint32_t> rtcp;
    if (rtp && ConsumeLiteral(scan, "-"))
        rtcp = ConsumeNumber(scan);
    else if (rtp)
        rtcp = *rtp + 1;
    constexpr std::uint32_t kMaxChannel = 255;
    if (!rtp || !rtcp || *rtp > kMaxChannel || *rtcp > kMaxChannel || *rtp == *rtcp)
        return false;
    m_rtpChannel = static_cast<std::uint8_t>(*rtp);
    m_rtcpChannel = static_cast<std::uint8_t>(*rtcp);
    return true;
}

bool CRTSPResponseParser::ParseSession(std::string_view line)
{
    // The identifier goes back in every later request; a blank kept around it ("Session: 4711 ;timeout=60")
    // would name a session the camera does not know. Parameters other than timeout are passed over.
    const std::string_view value = HeaderValue(line);
    const std::size_t semicolon = value.find(';');
    m_sessionId = TrimBlanks(value.substr(0, semicolon));
    // It goes back verbatim in a header line: a control character or blank inside (a bare line feed
    // folding the next header into it) would break that request's header, so such a value is refused.
    const auto unsafe = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; };
    if (std::any_of(m_sessionId.begin(), m_sessionId.end(), unsafe))
    {
        m_sessionId.clear();
        return false;
    }
    if (semicolon != std::string_view::npos)
    {
        const std::string timeout = FindKeyValue("timeout", "=", ToLowerCopy(value.substr(semicolon)), ";");
        if (!timeout.empty())
            m_sessionTimeout = SessionTimeoutOf(timeout);
    }
    return !m_sessionId.empty();
}

bool CRTSPResponseParser::ParseAuthenticate(std::string_view line, bool& challengeSeen)
{
    const std::string_view challenge = HeaderValue(line);
    const std::string_view token = challenge.substr(0, challenge.find_first_of(" \t\r\n"));
    const std::string_view parameters = challenge.substr(token.size());
    if (TrimBlanks(parameters).empty())
    {
        m_authScheme = RtspAuthScheme::None;
        return false;
    }

    // The scheme token is case-insensitive (RFC 2617, 1.2).
    const std::string lowerToken = ToLowerCopy(token);
    RtspAuthScheme scheme = RtspAuthScheme::None;
    if (lowerToken == "digest")
        scheme = RtspAuthScheme::Digest;
    else if (lowerToken == "basic")
        scheme = RtspAuthScheme::Basic;
    std::string realm;
    std::string nonce;
    if (scheme != RtspAuthScheme::None)
    {
        realm = ChallengeParameter(parameters, "realm");
        nonce = ChallengeParameter(parameters, "nonce");
        if (scheme == RtspAuthScheme::Digest && (realm.empty() || nonce.empty()))
        {
            m_authScheme = RtspAuthScheme::None;
            return false;
        }
    }

    // Hikvision cameras offer Digest then Basic, others Basic then Digest. Of the challenges in one
    // response the strongest is kept, so that the password is never sent as Basic where Digest was
    // offered and a scheme this client does not speak never hides one it does; among equals the last
    // one counts.
    if (challengeSeen && scheme < m_authScheme)
        return true;
    challengeSeen = true;
    m_authScheme = scheme;
    if (scheme != RtspAuthScheme::None)
    {
        m_realm = std::move(realm);
        m_nonce = std::move(nonce);
        m_opaque = ChallengeParameter(parameters, "opaque");
        m_qopAuth = scheme == RtspAuthScheme::Digest && ListsQopAuth(ChallengeParameter(parameters, "qop"));
    }
    return true;
}

bool CRTSPResponseParser::ParseSessionDescription(std::string_view body)
{
    MediaKind kind = MediaKind::None;
    while (!body.empty())
    {
        const std::size_t end = body.find_first_of("\r\n");
        const std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view{} : body.substr(end + 1);
        // Blank and whitespace-only lines, which some cameras put between media sections, fall through
        // every test below and are passed over.
        if (line.empty())
            continue;

        const std::string lower = ToLowerCopy(line);
        if (const std::optional<std::size_t> at = FindAttribute(lower, "a=control"))
        {
            if (!ParseControlLine(line.substr(*at), kind))
                return false;
        }
        else if (FindAttribute(lower, "a=fmtp"))
        {
            // Audio and metadata parameters are not needed; parameters outside any media are malformed.
            if (kind == MediaKind::None || (kind == MediaKind::Video && !ParseVideoFormat(line)))
                return false;
        }
        else if (const std::optional<std::size_t> mediaAt = FindAttribute(lower, "m="))
        {
            if (!ParseMediaLine(line.substr(*mediaAt + 2), kind))
                return false;
        }
    }
    return true;
}

bool CRTSPResponseParser::ParseMediaLine(std::string_view value, MediaKind& kind)
{
    const std::vector<std::string> fields = SplitText(value, ' ');
    if (fields.empty())
        return false;
    kind = MediaKindOf(fields[0]);
    if (kind != MediaKind::None && fields.size() >= 3)
        m_media[static_cast<std::size_t>(kind) - 1].transportProfile = fields[2];
    return true;
}

bool CRTSPResponseParser::ParseControlLine(std::string_view attribute, MediaKind kind)
{
    std::string_view scan = attribute;
    if (!ConsumeLiteral(scan, "a=control:"))
        return false;
    // Kept whole, however long: a control that repeats the full URL with a query string (Hikvision's
    // "rtsp://.../Channels/101/?transportmode=unicast&profile=Profile_1/trackID=1") cut short would
    // name another stream.
    const std::string_view control = ConsumeToken(scan);
    if (control.empty())
        return false;
    // A session-level control ("*" before any media) concerns no single stream.
    if (kind != MediaKind::None)
        m_media[static_cast<std::size_t>(kind) - 1].control = control;
    return true;
}

bool CRTSPResponseParser::ParseVideoFormat(std::string_view line)
{
    // A blank ends a parameter too, so that one written first ("a=fmtp:96 config=...") is found.
    constexpr std::string_view kTerminators = " ;\r\n";
    const std::string sprop = FindKeyValue("sprop-parameter-sets", "=", line, kTerminators);
    if (!sprop.empty())
    {
        // Cameras that list a third set (a second PPS or an SEI) get the first two used; the depacketizer
        // takes exactly an SPS and a PPS. Sets that cannot be used (one only, one oversized or undecodable)
        // are dropped rather than failing the answer: the camera sends them in band as well.
        const std::vector<std::string> sets = SplitText(sprop, ',');
        m_parameterSets.first.clear();
        m_parameterSets.second.clear();
        if (sets.size() >= 2)
        {
            std::vector<std::uint8_t> first = DecodeBase64Set(sets[0]);
            std::vector<std::uint8_t> second = DecodeBase64Set(sets[1]);
            if (!first.empty() && !second.empty())
            {
                m_parameterSets.first = std::move(first);
                m_parameterSets.second = std::move(second);
            }
        }
        return true;
    }

    const std::string config = FindKeyValue("config", "=", line, kTerminators);
    // Many cameras send their parameter sets only in front of key frames and announce none here;
    // refusing the answer would cost them all video. The depacketizer reads the in-band sets.
    if (config.empty())
        return true;
    m_parameterSets.config = config.find('=') == std::string::npos ? DecodeHexConfig(config) : DecodeBase64Set(config);
    return !m_parameterSets.config.empty();
}

const char* RtspMethodName(RtspRequestType type)
{
    switch (type)
    {
    case RtspRequestType::Describe:
        return "DESCRIBE";
    case RtspRequestType::Setup:
        return "SETUP";
    case RtspRequestType::Play:
        return "PLAY";
    case RtspRequestType::Teardown:
        return "TEARDOWN";
    case RtspRequestType::SetParameter:
        return "SET_PARAMETER";
    case RtspRequestType::Pause:
        return "PAUSE";
    case RtspRequestType::GetParameter:
        return "GET_PARAMETER";
    case RtspRequestType::Options:
        return "OPTIONS";
    }
    return "";
}
}
