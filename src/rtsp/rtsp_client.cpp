#include "rtsp/rtsp_client.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/process.h"
#include "platform/thread.h"
#include "rtp/rtp_receiver_user.h"
#include "rtsp/rtsp_stream_parser.h"
#include "runtime/time_value.h"
#include "text/digest_auth.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr std::uint32_t kConnectAttemptMs = 100;
constexpr std::size_t kFirstInterleavedRead = 8192;
constexpr std::size_t kBodyReadLimit = 512;
// A silent camera must not hold a stop for its whole receive time-out: reads wait in slices of
// this length and look at the stop request in between.
constexpr std::uint32_t kStopCheckMs = 100;
// Once the session ends, its last answer (TEARDOWN) is waited for this long at the most.
constexpr std::uint32_t kStoppingReceiveMs = 1000;
// Some cameras send a body (an HTML page) with a 401 but no Content-Length. The bytes that arrive
// until the connection has been quiet this long after such an answer are that body and are dropped,
// so that the next answer is read from its status line.
constexpr std::uint32_t kStrayBodyQuietMs = 200;
constexpr std::size_t kClientNonceBytes = 8;

const char* MethodName(RtspRequestType type)
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
    }
    return "";
}

// A URL or credential that would end a header line early must never reach the camera: it would
// let whoever wrote it add headers of their own.
bool IsSafeInHeader(std::string_view text)
{
    return text.find_first_of("\r\n") == std::string_view::npos;
}

bool IsSafeUrl(std::string_view url)
{
    return IsSafeInHeader(url) && url.find(' ') == std::string_view::npos;
}

std::span<const std::uint8_t> Bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
}

CBaseRTSPClient::CBaseRTSPClient(IDebugMessage* owner) : CBaseThread(owner) {}

CBaseRTSPClient::~CBaseRTSPClient()
{
    StopSession();
}

bool CBaseRTSPClient::StartSession(const RTSPSessionParams& params, IRTPReceiverUser* user, int transportMode)
{
    StopSession();
    m_parser.Reset();
    m_params = params;
    m_user = user;
    m_transportMode = transportMode;
    m_paused = false;
    m_countedNonce.clear();
    m_nonceCount = 0;
    if (Connect() && StartThread("RTSP Client Thread"))
        return true;
    StopSession();
    return false;
}

void CBaseRTSPClient::StopSession()
{
    StopThread(2 * std::max(m_params.receiveTimeoutMs, m_params.sendTimeoutMs) + 1000);
    CloseConnection();
    m_user = nullptr;
    m_lastKeepAlive = 0;
}

bool CBaseRTSPClient::Connect()
{
    using namespace platform;
    m_socket = CreateSocket(SocketKind::Tcp);
    if (m_socket == kInvalidSocket)
        return false;
    if (!SetSocketOption(m_socket, SocketOption::ReceiveBuffer, m_params.receiveBufferSize) ||
        !SetSocketOption(m_socket, SocketOption::ReceiveTimeout, m_params.receiveTimeoutMs) ||
        !SetSocketOption(m_socket, SocketOption::SendTimeout, m_params.sendTimeoutMs))
    {
        CloseConnection();
        return false;
    }
    const std::uint32_t address = ResolveIPv4(m_params.deviceAddress);
    if (address == 0 || !SetSocketNonBlocking(m_socket, true))
    {
        CloseConnection();
        return false;
    }

    bool connected = ConnectSocket(m_socket, MakeSocketAddressV4(address, m_params.rtspPort)) == 0;
    if (!connected && LastSocketError() == kSocketErrorWouldBlock)
    {
        // Polled in steps so that the attempt can be given up between them.
        const std::uint32_t attempts = m_params.connectTimeoutMs / kConnectAttemptMs;
        for (std::uint32_t attempt = 0; attempt < attempts && !connected && !m_connectCancelled; ++attempt)
        {
            SleepMilliseconds(kConnectAttemptMs);
            const WaitResult result = WaitForSocketConnected(m_socket, 0);
            if (result == WaitResult::Failed)
                break; // refused: no point in waiting for the rest of the time-out
            connected = result == WaitResult::Signaled;
        }
    }
    if (!connected || !SetSocketNonBlocking(m_socket, false))
    {
        CloseConnection();
        return false;
    }
    return true;
}

void CBaseRTSPClient::CloseConnection()
{
    if (m_socket != platform::kInvalidSocket)
        platform::CloseSocket(m_socket);
    m_socket = platform::kInvalidSocket;
}

void CBaseRTSPClient::ThreadFunction()
{
    m_pauseEvent.Reset();
    m_playEvent.Reset();
    if (!SendAndCheck(RtspRequestType::Describe))
        return;
    if (m_user != nullptr)
        m_user->OnParameterSets(m_parser.GetParameterSets());
    if (SendAndCheck(RtspRequestType::Setup))
    {
        if (m_user != nullptr)
            m_user->OnServerPorts(m_parser.GetServerRTPPort(), m_parser.GetServerRTCPPort());
        if (!m_paused)
            m_playEvent.Set();
        WaitForEvents();
    }
    // Sent even while stopping, so that the camera frees the session at once.
    SendAndCheck(RtspRequestType::Teardown);
}

void CBaseRTSPClient::WaitForEvents()
{
    CEvent* const events[] = {&StopEvent(), &m_pauseEvent, &m_playEvent};
    for (;;)
    {
        switch (WaitForAnyEvent(events, 3, m_idleWaitMs))
        {
        case 0:
            return;
        case 1:
            if (SendAndCheck(RtspRequestType::Pause))
                m_paused = true;
            break;
        case 2:
            m_paused = false;
            SendAndCheck(RtspRequestType::Play);
            break;
        default:
            CheckKeepAlive();
            break;
        }
    }
}

void CBaseRTSPClient::CheckKeepAlive()
{
    const std::int32_t announced = m_parser.GetSessionTimeout();
    const std::uint64_t intervalMs =
        1000ULL * (announced > 0 ? static_cast<std::uint32_t>(announced) : m_params.defaultSessionTimeoutS);
    if (CTime::ElapsedSince(m_lastKeepAlive) <= intervalMs / 2)
        return;
    SendAndCheck(RtspRequestType::SetParameter);
    m_lastKeepAlive = CTime::Now();
}

bool CBaseRTSPClient::SendAndCheck(RtspRequestType type)
{
    if (type != RtspRequestType::Teardown && IsStopRequested())
        return false;
    bool exchanged = Exchange(type);
    // A camera that wants another scheme says so in its 401: ask once more in that scheme.
    if (exchanged && m_parser.GetStatusCode() == 401 && m_parser.GetAuthScheme() != m_params.authScheme)
    {
        m_params.authScheme = m_parser.GetAuthScheme();
        exchanged = Exchange(type);
    }
    m_lastRequestOk = exchanged;
    const std::uint32_t status = m_parser.GetStatusCode();
    return exchanged && status >= 200 && status <= 299;
}

bool CBaseRTSPClient::Exchange(RtspRequestType type)
{
    if (m_socket == platform::kInvalidSocket)
        return false;
    const std::string request = BuildRequest(type);
    if (request.empty())
        return false;
    if (platform::SendSocket(m_socket, Bytes(request)) != static_cast<int>(request.size()))
        return false;
    if (type == RtspRequestType::Play && m_transportMode == kTransportInterleaved)
        return ReadInterleaved(); // the PLAY answer is skipped as stream bytes
    bool lengthGiven = false;
    const std::string response = ReceiveResponse(lengthGiven);
    if (response.empty())
        return false;
    const bool parsed = m_parser.Parse(response, type);
    if (!lengthGiven && m_parser.GetStatusCode() == 401)
        DropStrayBody();
    return parsed;
}

void CBaseRTSPClient::DropStrayBody()
{
    std::array<std::uint8_t, kBodyReadLimit> buffer{};
    std::size_t dropped = 0;
    // A camera that trickles bytes without end holds the session no longer than one receive time-out.
    const std::uint64_t started = CTime::Now();
    while (dropped < kMaxResponseBody && CTime::ElapsedSince(started) < m_params.receiveTimeoutMs &&
           !IsStopRequested() &&
           platform::WaitForSocketReadable(m_socket, kStrayBodyQuietMs) == platform::WaitResult::Signaled)
    {
        const int received = platform::ReceiveSocket(m_socket, buffer, 0, false);
        if (received <= 0)
            return;
        dropped += static_cast<std::size_t>(received);
    }
}

std::string CBaseRTSPClient::ReceiveResponse(bool& lengthGiven)
{
    std::string response;
    if (!ReceiveHeaders(response))
        return {};
    // Cameras differ on the blank after the colon; the value is trimmed either way.
    const std::string length = TrimBlanks(FindKeyValue("content-length", ":", ToLowerCopy(response), "\r\n"));
    lengthGiven = !length.empty();
    const std::int32_t bodyLength = length.empty() ? 0 : ParseStrictIntOrZero(length);
    if (bodyLength < 0 || static_cast<std::size_t>(bodyLength) > kMaxResponseBody)
        return {};
    const std::size_t expected = response.size() + static_cast<std::size_t>(bodyLength);
    std::array<std::uint8_t, kBodyReadLimit> buffer{};
    // Never more than the response: what follows belongs to the next exchange.
    while (response.size() < expected)
    {
        const std::size_t wanted = std::min(expected - response.size(), buffer.size());
        const int received = Receive(std::span(buffer.data(), wanted), false);
        if (received <= 0)
            break;
        response.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(received));
    }
    return response;
}

// Reads up to and including the blank line that ends the headers, and not one byte more: the
// bytes are looked at before they are taken.
bool CBaseRTSPClient::ReceiveHeaders(std::string& response)
{
    std::array<std::uint8_t, 512> buffer{};
    for (;;)
    {
        const int peeked = Receive(buffer, true);
        if (peeked <= 0)
            return !response.empty();
        const std::size_t carried = std::min<std::size_t>(response.size(), 3);
        std::string window = response.substr(response.size() - carried);
        window.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(peeked));
        const auto blankLine = window.find("\r\n\r\n");
        const std::size_t take =
            blankLine == std::string::npos ? static_cast<std::size_t>(peeked) : blankLine + 4 - carried;
        std::size_t taken = 0;
        while (taken < take)
        {
            const int got = Receive(std::span(buffer.data() + taken, take - taken), false);
            if (got <= 0)
                return false;
            taken += static_cast<std::size_t>(got);
        }
        response.append(reinterpret_cast<const char*>(buffer.data()), take);
        if (blankLine != std::string::npos)
            return true;
        if (response.size() >= kMaxRtspHeaderLength)
            return false;
    }
}

bool CBaseRTSPClient::ReadInterleaved()
{
    if (m_user == nullptr)
        return false;
    // The channels the camera answered the SETUP with (0 and 1 when it named none).
    CRTSPStreamParser streamParser(*m_user, m_parser.GetRTPChannel(), m_parser.GetRTCPChannel());
    std::vector<std::uint8_t> buffer(kFirstInterleavedRead);
    std::size_t wanted = kFirstInterleavedRead;
    for (;;)
    {
        const int received = Receive(std::span(buffer.data(), wanted), false);
        if (IsStopRequested())
            return false;
        if (received <= 0)
            return true; // closed, failed or silent for the whole receive time-out
        streamParser.Process(std::span(buffer.data(), static_cast<std::size_t>(received)));
        wanted = received >= 4096 ? static_cast<std::size_t>(received) : kFirstInterleavedRead;
    }
}

int CBaseRTSPClient::Receive(std::span<std::uint8_t> buffer, bool peek)
{
    const bool stopping = IsStopRequested();
    std::uint32_t remaining =
        stopping ? std::min(m_params.receiveTimeoutMs, kStoppingReceiveMs) : m_params.receiveTimeoutMs;
    for (;;)
    {
        const std::uint32_t slice = std::min(remaining, kStopCheckMs);
        const platform::WaitResult ready = platform::WaitForSocketReadable(m_socket, slice);
        if (ready == platform::WaitResult::Signaled)
            return platform::ReceiveSocket(m_socket, buffer, 0, peek);
        remaining -= slice;
        if (ready == platform::WaitResult::Failed || remaining == 0 || (!stopping && IsStopRequested()))
            return platform::kSocketFailure;
    }
}

std::string CBaseRTSPClient::BuildRequest(RtspRequestType type)
{
    const std::string sessionUrl = SessionUrl();
    const char* method = MethodName(type);
    const std::string url = type == RtspRequestType::Setup ? ControlUrl(sessionUrl) : sessionUrl;
    if (!IsSafeUrl(url))
        return {};

    const std::string cseq = FormatText("CSeq: %u\r\n", m_parser.IncrementCSeq());
    // Each request is signed with its own URI, which servers compare with the request line.
    const std::string authorization = AuthorizationLine(method, url);
    const std::string userAgent = "User-Agent: Kestrav\r\n";
    const std::string& sessionId = m_parser.GetSessionId();
    const std::string session =
        !sessionId.empty() && IsSafeInHeader(sessionId) ? FormatText("Session: %s\r\n", sessionId.c_str()) : "";
    const std::string range =
        "Range: " +
        (!m_params.rangeText.empty() && IsSafeInHeader(m_params.rangeText) ? m_params.rangeText
                                                                           : std::string("npt=0.000-")) +
        "\r\n";

    std::string text = FormatText("%s %s RTSP/1.0\r\n", method, url.c_str()) + cseq + authorization + userAgent;
    switch (type)
    {
    case RtspRequestType::Describe:
        text += "Accept: application/sdp\r\n";
        break;
    case RtspRequestType::Setup:
        text += m_transportMode == kTransportInterleaved
                    ? std::string("Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")
                    : FormatText("Transport: RTP/AVP/UDP;unicast;client_port=%u-%u\r\n", m_params.clientRtpPort,
                                 m_params.clientRtcpPort);
        break;
    case RtspRequestType::Play:
    case RtspRequestType::Pause:
        text += session + range;
        break;
    case RtspRequestType::Teardown:
    case RtspRequestType::SetParameter:
        text += session;
        break;
    }
    return text + "\r\n";
}

std::string CBaseRTSPClient::SessionUrl() const
{
    const std::string& contentBase = m_parser.GetContentBase();
    if (contentBase.find("rtsp://") != std::string::npos)
        return contentBase;
    std::string_view path = m_params.streamPath;
    while (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    return FormatText("rtsp://%s:%u/", m_params.deviceAddress.c_str(), m_params.rtspPort) + std::string(path);
}

std::string CBaseRTSPClient::ControlUrl(const std::string& sessionUrl) const
{
    const std::string& control = m_parser.GetControl(m_params.mediaKind);
    if (control.find("://") != std::string::npos)
        return control;
    // "*" names the aggregate, which is the session URL itself; some cameras use it for their
    // only stream.
    if (control.empty() || control == "*")
        return sessionUrl;
    std::string url = sessionUrl;
    if (!url.empty() && url.back() == '/')
        url.pop_back();
    if (control.front() != '/')
        url += '/';
    return url + control;
}

std::string CBaseRTSPClient::AuthorizationLine(const char* method, const std::string& url)
{
    switch (m_params.authScheme)
    {
    case RtspAuthScheme::Basic:
    {
        const auto credentials = BasicCredentials(m_params.userName, m_params.password);
        return credentials ? "Authorization: Basic " + *credentials + "\r\n" : std::string();
    }
    case RtspAuthScheme::Digest:
    {
        const std::string& realm = m_parser.GetRealm();
        const std::string& nonce = m_parser.GetNonce();
        if (realm.empty() || nonce.empty() || m_params.userName.empty() || m_params.password.empty() || url.empty())
            return {};
        // The user name goes into the header in quotes.
        const std::string& opaque = m_parser.GetOpaque();
        if (!IsSafeInHeader(m_params.userName) || m_params.userName.find('"') != std::string::npos ||
            !IsSafeInHeader(realm) || !IsSafeInHeader(nonce) || !IsSafeInHeader(opaque))
            return {};
        if (!m_parser.OffersQopAuth())
            return DigestAuthorizationLine(m_params.userName, realm, m_params.password, method, url, nonce, opaque,
                                           std::nullopt);
        // The count restarts with each new nonce; the client nonce is fresh for every request.
        if (nonce != m_countedNonce)
        {
            m_countedNonce = nonce;
            m_nonceCount = 0;
        }
        std::array<std::uint8_t, kClientNonceBytes> random{};
        if (!platform::FillRandomBytes(random))
            return {};
        std::string clientNonce;
        for (const std::uint8_t byte : random)
            clientNonce += FormatText("%02x", byte);
        return DigestAuthorizationLine(m_params.userName, realm, m_params.password, method, url, nonce, opaque,
                                       DigestQopAuth{++m_nonceCount, clientNonce});
    }
    case RtspAuthScheme::None:
        break;
    }
    return {};
}
}
