#include "rtsp/rtsp_client.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/clock.h"
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
// The stream is read in blocks of up to this, at most once per kInterleavedReadPeriodMs while it
// keeps the connection busy: the bytes wait in the socket (TCP holds the camera back when it is
// full) and come in few large reads instead of a wake-up for each segment.
constexpr std::size_t kInterleavedReadBytes = 64 * 1024;
constexpr std::uint64_t kInterleavedReadPeriodMs = 40;
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
// How often the idle session looks at its connection: a camera that closes it ends the session at
// once, not at the next keep-alive.
constexpr std::uint32_t kConnectionCheckMs = 200;
constexpr std::uint32_t kStatusUnauthorized = 401;
constexpr std::uint32_t kStatusSessionNotFound = 454;

// Tried in this order: a camera that refuses one keep-alive method gets the next.
constexpr RtspRequestType kKeepAliveMethods[] = {RtspRequestType::SetParameter, RtspRequestType::GetParameter,
                                                 RtspRequestType::Options};

bool IsKeepAlive(RtspRequestType type)
{
    return std::ranges::find(kKeepAliveMethods, type) != std::end(kKeepAliveMethods);
}

bool IsSuccess(std::uint32_t status)
{
    return status >= 200 && status <= 299;
}

// A refusal of the method rather than of the session: the connection and the session are alive.
bool RefusesTheMethod(std::uint32_t status)
{
    return status == 400 || status == 405 || status == 451 || status == 455 || status == 501;
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
    m_sessionEnded = false;
    m_keepAliveMethod = 0;
    m_omitRange = false;
    m_pending.reset();
    {
        std::lock_guard lock(m_failureMutex);
        m_lastFailure.reset();
    }
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

bool CBaseRTSPClient::Connect(bool onSessionThread)
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
        for (std::uint32_t attempt = 0;
             attempt < attempts && !connected && !m_connectCancelled && !(onSessionThread && IsStopRequested());
             ++attempt)
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
    std::uint32_t idleMs = 0;
    while (!m_sessionEnded)
    {
        const std::uint32_t slice = std::min(kConnectionCheckMs, m_idleWaitMs);
        switch (WaitForAnyEvent(events, 3, slice))
        {
        case 0:
            return;
        case 1:
            idleMs = 0;
            if (SendAndCheck(RtspRequestType::Pause))
                m_paused = true;
            break;
        case 2:
            idleMs = 0;
            m_paused = false;
            SendPlay();
            break;
        default:
            idleMs += slice;
            if (ConnectionClosed())
            {
                // Over UDP the session can outlive its connection (VLC closes it after refusing a
                // request): a new connection asks whether the session is still there.
                if (m_transportMode == kTransportInterleaved || !Reconnect())
                {
                    EndSession();
                    break;
                }
                idleMs = 0;
                KeepAlive();
                break;
            }
            // The first keep-alive follows the first idle wait; later ones go out as soon as they are
            // due, so that a short session time-out is not missed by up to an idle wait.
            if (idleMs >= m_idleWaitMs || (m_lastKeepAlive != 0 && KeepAliveDue()))
            {
                idleMs = 0;
                CheckKeepAlive();
            }
            break;
        }
    }
}

// Cameras differ on the Range of a PLAY that resumes a live stream (GStreamer refuses
// "npt=0.000-" after a PAUSE): a refused PLAY is sent once more without it.
void CBaseRTSPClient::SendPlay()
{
    if (SendAndCheck(RtspRequestType::Play) || m_transportMode == kTransportInterleaved)
        return;
    const std::uint32_t status = m_parser.GetStatusCode();
    if (status == 0 || status == kStatusUnauthorized || m_omitRange || m_sessionEnded)
        return;
    m_omitRange = true;
    if (!SendAndCheck(RtspRequestType::Play))
        m_omitRange = false;
}

// A readable connection between answers is a closed one, or one carrying bytes nobody asked for;
// those are dropped while the stream goes over UDP.
bool CBaseRTSPClient::ConnectionClosed()
{
    if (m_socket == platform::kInvalidSocket)
        return false;
    // A reset connection shows as an error rather than as readable.
    const platform::WaitResult ready = platform::WaitForSocketReadable(m_socket, 0);
    if (ready != platform::WaitResult::Signaled)
        return ready == platform::WaitResult::Failed;
    std::array<std::uint8_t, kBodyReadLimit> buffer{};
    const int peeked = platform::ReceiveSocket(m_socket, std::span(buffer.data(), 1), 0, true);
    if (peeked <= 0)
        return true;
    if (m_transportMode != kTransportInterleaved)
        platform::ReceiveSocket(m_socket, buffer, 0, false);
    return false;
}

void CBaseRTSPClient::EndSession()
{
    if (m_sessionEnded.exchange(true))
        return;
    const std::uint32_t status = m_parser.GetStatusCode();
    if (!IsStopRequested())
        RecordFailure(Failure{RtspRequestType::Play, IsSuccess(status) ? 0 : status, 0, true});
    if (m_user != nullptr)
        m_user->OnSessionEnded();
}

void CBaseRTSPClient::RecordFailure(const Failure& failure)
{
    std::lock_guard lock(m_failureMutex);
    m_lastFailure = failure;
}

std::optional<CBaseRTSPClient::Failure> CBaseRTSPClient::GetLastFailure() const
{
    std::lock_guard lock(m_failureMutex);
    return m_lastFailure;
}

bool CBaseRTSPClient::KeepAliveDue() const
{
    const std::int32_t announced = m_parser.GetSessionTimeout();
    const std::uint64_t intervalMs =
        1000ULL * (announced > 0 ? static_cast<std::uint32_t>(announced) : m_params.defaultSessionTimeoutS);
    return CTime::ElapsedSince(m_lastKeepAlive) > intervalMs / 2;
}

void CBaseRTSPClient::CheckKeepAlive()
{
    if (KeepAliveDue())
        KeepAlive();
}

void CBaseRTSPClient::KeepAlive()
{
    bool reconnected = false;
    while (!IsStopRequested())
    {
        SendAndCheck(kKeepAliveMethods[m_keepAliveMethod]);
        const std::uint32_t status = m_parser.GetStatusCode();
        // No answer because the camera closed the connection: over UDP the question goes once
        // more, on a new connection.
        if (status == 0 && !reconnected && m_transportMode != kTransportInterleaved && ConnectionClosed())
        {
            reconnected = true;
            if (Reconnect())
                continue;
        }
        if (!OnKeepAliveAnswer(status))
            break;
    }
    m_lastKeepAlive = CTime::Now();
}

bool CBaseRTSPClient::Reconnect()
{
    CloseConnection();
    return Connect(true);
}

bool CBaseRTSPClient::OnKeepAliveAnswer(std::uint32_t status)
{
    if (status == 0 || status == kStatusSessionNotFound)
    {
        m_lastRequestOk = status != 0;
        EndSession();
        return false;
    }
    // Whatever the camera said, it answered: the connection is alive.
    m_lastRequestOk = true;
    if (!RefusesTheMethod(status) || m_keepAliveMethod + 1 >= std::size(kKeepAliveMethods))
        return false;
    ++m_keepAliveMethod;
    return true;
}

bool CBaseRTSPClient::SendAndCheck(RtspRequestType type)
{
    if (type != RtspRequestType::Teardown && IsStopRequested())
        return false;
    const std::uint64_t started = platform::MonotonicMilliseconds();
    bool exchanged = Exchange(type);
    // A camera that wants another scheme says so in its 401: ask once more in that scheme.
    if (exchanged && m_parser.GetStatusCode() == 401 && m_parser.GetAuthScheme() != m_params.authScheme)
    {
        m_params.authScheme = m_parser.GetAuthScheme();
        exchanged = Exchange(type);
    }
    // A keep-alive's outcome is stored once its fall-backs and a reconnection have had their turn:
    // the channel must not see a session failing that is only changing connections.
    if (!IsKeepAlive(type))
        m_lastRequestOk = exchanged;
    const std::uint32_t status = m_parser.GetStatusCode();
    if (status == kStatusSessionNotFound && type != RtspRequestType::Teardown)
        EndSession();
    const bool succeeded = exchanged && IsSuccess(status);
    // A keep-alive's failure matters only when it ends the session, which records it; a request
    // that went through after a refusal (a PLAY without its Range) clears it.
    if (!IsKeepAlive(type) && type != RtspRequestType::Teardown && !IsStopRequested() && !m_sessionEnded)
    {
        const auto elapsed = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(platform::MonotonicMilliseconds() - started, UINT32_MAX));
        std::lock_guard lock(m_failureMutex);
        if (succeeded)
            m_lastFailure.reset();
        else
            m_lastFailure = Failure{type, status, elapsed, false};
    }
    return succeeded;
}

bool CBaseRTSPClient::Exchange(RtspRequestType type)
{
    m_parser.ForgetStatus();
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
    if (!lengthGiven && m_parser.GetStatusCode() == kStatusUnauthorized)
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
    streamParser.SetMessageHandler([this](std::string_view answer) { OnInterleavedAnswer(answer); });
    const std::uint64_t started = platform::MonotonicMilliseconds();
    m_pending = PendingRequest{RtspRequestType::Play, started, false};
    m_lastStreamBytes = started;
    m_lastReport = started;
    // The PLAY counts as the first keep-alive: the next is due after half the session's time-out.
    m_lastKeepAlive = CTime::Now();
    std::vector<std::uint8_t> buffer(kInterleavedReadBytes);
    std::uint64_t lastRead = 0;
    for (;;)
    {
        if (lastRead != 0)
        {
            const std::uint64_t since = platform::MonotonicMilliseconds() - lastRead;
            if (since < kInterleavedReadPeriodMs)
                StopEvent().Wait(static_cast<std::uint32_t>(kInterleavedReadPeriodMs - since));
        }
        if (IsStopRequested())
            return false;
        ServeInterleavedSession();
        if (m_sessionEnded)
            return true;
        const platform::WaitResult ready = platform::WaitForSocketReadable(m_socket, kStopCheckMs);
        if (ready == platform::WaitResult::TimedOut)
        {
            // A paused stream is silent because it was asked to be.
            if (!m_paused && platform::MonotonicMilliseconds() - m_lastStreamBytes >= m_params.receiveTimeoutMs)
                return true;
            continue;
        }
        const int received = ready == platform::WaitResult::Signaled
                                 ? platform::ReceiveSocket(m_socket, buffer, 0, false)
                                 : platform::kSocketFailure;
        if (IsStopRequested())
            return false;
        if (received <= 0)
        {
            EndSession(); // closed or failed
            return true;
        }
        m_lastStreamBytes = platform::MonotonicMilliseconds();
        // A full buffer means more is waiting: read on at once.
        lastRead = static_cast<std::size_t>(received) < buffer.size() ? m_lastStreamBytes : 0;
        streamParser.Process(std::span(buffer.data(), static_cast<std::size_t>(received)));
    }
}

// One request at a time: the next waits for the answer to the last, or for the receive time-out.
void CBaseRTSPClient::ServeInterleavedSession()
{
    const std::uint64_t now = platform::MonotonicMilliseconds();
    if (now - m_lastReport >= m_reportPeriodMs)
    {
        SendInterleavedReport();
        m_lastReport = now;
    }
    // An answer left out while the stream flows ends nothing: the stream shows the session alive.
    if (m_pending && now - m_pending->sentAt < m_params.receiveTimeoutMs)
        return;
    m_pending.reset();
    if (m_pauseEvent.Wait(0))
    {
        SendInterleaved(RtspRequestType::Pause, false);
    }
    else if (m_playEvent.Wait(0))
    {
        m_paused = false;
        m_lastStreamBytes = now;
        SendInterleaved(RtspRequestType::Play, false);
    }
    else if (KeepAliveDue())
    {
        SendInterleaved(kKeepAliveMethods[m_keepAliveMethod], false);
        m_lastKeepAlive = CTime::Now();
    }
}

void CBaseRTSPClient::SendInterleaved(RtspRequestType type, bool retry)
{
    const std::string request = BuildRequest(type);
    if (request.empty())
        return;
    if (platform::SendSocket(m_socket, Bytes(request)) != static_cast<int>(request.size()))
    {
        EndSession();
        return;
    }
    m_pending = PendingRequest{type, platform::MonotonicMilliseconds(), retry};
}

// Framed for the RTCP channel: "$", the channel, the 16-bit length, the compound packet.
void CBaseRTSPClient::SendInterleavedReport()
{
    const std::vector<std::uint8_t> report =
        m_user != nullptr ? m_user->BuildInterleavedReport() : std::vector<std::uint8_t>();
    if (report.empty() || report.size() > 0xFFFF)
        return;
    std::vector<std::uint8_t> frame = {'$', m_parser.GetRTCPChannel(), static_cast<std::uint8_t>(report.size() >> 8),
                                       static_cast<std::uint8_t>(report.size() & 0xFF)};
    frame.insert(frame.end(), report.begin(), report.end());
    if (platform::SendSocket(m_socket, frame) != static_cast<int>(frame.size()))
        EndSession();
}

void CBaseRTSPClient::OnInterleavedAnswer(std::string_view answer)
{
    // Not an answer to a request of ours (one of the camera's own, or one too late).
    if (!m_pending)
        return;
    const PendingRequest request = *m_pending;
    m_pending.reset();
    m_parser.ForgetStatus();
    m_parser.Parse(answer, request.type);
    const std::uint32_t status = m_parser.GetStatusCode();
    if (status == kStatusUnauthorized && m_parser.GetAuthScheme() != m_params.authScheme && !request.retry)
    {
        m_params.authScheme = m_parser.GetAuthScheme();
        SendInterleaved(request.type, true);
        return;
    }
    if (IsKeepAlive(request.type))
    {
        if (OnKeepAliveAnswer(status))
            SendInterleaved(kKeepAliveMethods[m_keepAliveMethod], false);
        return;
    }
    if (status == kStatusSessionNotFound)
    {
        EndSession();
        return;
    }
    if (request.type == RtspRequestType::Pause && IsSuccess(status))
        m_paused = true;
    if (request.type != RtspRequestType::Play || IsSuccess(status) || status == 0)
        return;
    if (!m_omitRange && !request.retry && status != kStatusUnauthorized)
    {
        m_omitRange = true;
        SendInterleaved(RtspRequestType::Play, true);
        return;
    }
    // No stream will come: the session is over.
    m_omitRange = false;
    EndSession();
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
    const char* method = RtspMethodName(type);
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
        text += session + (m_omitRange ? std::string() : range);
        break;
    case RtspRequestType::Pause:
        text += session + range;
        break;
    case RtspRequestType::Teardown:
    case RtspRequestType::SetParameter:
    case RtspRequestType::GetParameter:
    case RtspRequestType::Options:
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
