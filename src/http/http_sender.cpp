#include "http/http_sender.h"

#include <algorithm>
#include <array>
#include <span>

namespace Web
{
namespace
{
namespace platform = kestrav::platform;

constexpr std::uint32_t kIgnoreCertificateProblems =
    platform::kWinHttpSecurityIgnoreUnknownCa | platform::kWinHttpSecurityIgnoreWrongUsage |
    platform::kWinHttpSecurityIgnoreCertCnInvalid | platform::kWinHttpSecurityIgnoreCertDateInvalid;
}

CHttpSender::CHttpSender(const kestrav::DEVICE_INFO& device, platform::IHttpTransport& transport)
    : CBaseHttpSender(device), m_secure(device.port == kHttpsPort ? 1 : 0)
{
    if (transport.WinHttpOpen(kAgent, m_session) != platform::kHttpOk || !m_session)
    {
        // Silent: every request fails later.
        m_session.reset();
        return;
    }
    const std::uint32_t timeout = m_device.requestTimeoutMs;
    for (const platform::WinHttpOption option :
         {platform::WinHttpOption::ReceiveTimeout, platform::WinHttpOption::ResolveTimeout,
          platform::WinHttpOption::ReceiveResponseTimeout, platform::WinHttpOption::SendTimeout,
          platform::WinHttpOption::ConnectTimeout})
    {
        if (m_session->SetOption(option, timeout) != platform::kHttpOk)
            return;
    }
    if (m_session->SetOption(platform::WinHttpOption::MaxConnectionsPerServer, 16) != platform::kHttpOk)
        return;
    m_session->SetOption(platform::WinHttpOption::MaxConnectionsPer1_0Server, 16);
}

CHttpSender::~CHttpSender()
{
    CloseRequest();
    m_connect.reset();
    m_session.reset();
}

bool CHttpSender::SendRequest(const HttpRequest& request)
{
    m_cancelled = false;
    return Send(request);
}

bool CHttpSender::Send(const HttpRequest& request)
{
    HttpRequest attempt = request;
    attempt.secure = m_secure;
    Attempt result = RunAttempt(attempt);
    if (result == Attempt::TryOther && !m_cancelled)
    {
        // The scheme the camera was asked in first says more about its failure than the other one.
        const std::uint32_t firstError = m_lastError;
        attempt.secure = attempt.secure == 1 ? 0 : 1;
        result = RunAttempt(attempt);
        if (result != Attempt::Done)
            m_lastError = firstError;
    }
    if (result != Attempt::Done)
        return false;
    m_secure = attempt.secure;
    return true;
}

CHttpSender::Attempt CHttpSender::RunAttempt(const HttpRequest& request)
{
    DropCurrentRequest();
    m_statusCode = 0;
    m_contentLength = 0;
    m_lastError = platform::kHttpOk;

    if (!m_connect)
    {
        if (!m_session || m_session->Connect(m_device.address, m_device.port, m_connect) != platform::kHttpOk ||
            !m_connect)
        {
            m_connect.reset();
            return Attempt::Failed;
        }
    }
    if (request.verb.empty() || request.urlPath.empty())
        return Attempt::Failed;
    std::uint32_t flags = platform::kWinHttpFlagRefresh;
    if ((request.optionFlags & kHttpDisableQueryEscaping) != 0)
        flags |= platform::kWinHttpFlagEscapeDisableQuery;
    if (request.secure == 1)
        flags |= platform::kWinHttpFlagSecure;
    std::shared_ptr<platform::IWinHttpRequest> handle;
    if (m_connect->OpenRequest(request.verb, request.urlPath, flags, handle) != platform::kHttpOk || !handle)
        return Attempt::Failed;
    // Current before anything blocks, so that CloseRequest from another thread can end the wait.
    if (!MakeCurrent(handle))
        return Attempt::Failed;

    // Until a challenge has named the scheme, nothing is sent: a Basic guess would hand the password in
    // clear text to a camera that asks for Digest.
    const bool withCredentials = !m_device.userName.empty() && request.authScheme != HttpAuthScheme::None;
    if (withCredentials && m_authScheme != 0)
    {
        if (handle->SetCredentials(platform::kWinHttpAuthTargetServer, m_authScheme, m_device.userName,
                                   m_device.password) != platform::kHttpOk)
        {
            DropCurrentRequest();
            return Attempt::Failed;
        }
    }
    const bool ignoreCertificates = request.secure == 1 && (request.optionFlags & kHttpIgnoreCertificateErrors) != 0;
    if ((ignoreCertificates &&
         handle->SetOption(platform::WinHttpOption::SecurityFlags, kIgnoreCertificateProblems) != platform::kHttpOk) ||
        ((request.optionFlags & kHttpDisableRedirects) != 0 &&
         handle->SetOption(platform::WinHttpOption::DisableFeature, platform::kWinHttpDisableRedirects) !=
             platform::kHttpOk))
    {
        DropCurrentRequest();
        return Attempt::Failed;
    }
    for (const std::string& line : request.extraHeaders)
    {
        if (handle->AddRequestHeaders(line, platform::kWinHttpAddHeaderAdd | platform::kWinHttpAddHeaderReplace) !=
            platform::kHttpOk)
        {
            DropCurrentRequest();
            return Attempt::Failed;
        }
    }

    const auto bodySize = static_cast<std::uint32_t>(std::min<std::size_t>(request.body.size(), 0xFFFFFFFFu));
    const platform::HttpError sendError = handle->SendRequest(request.body, std::max(bodySize, request.totalLength));
    if (sendError != platform::kHttpOk)
    {
        DropCurrentRequest();
        m_lastError = sendError;
        // A time-out says nothing about the scheme; any other failure may be the wrong one of the two.
        return sendError == platform::kHttpErrorTimeout ? Attempt::Failed : Attempt::TryOther;
    }
    if (bodySize < request.totalLength || (request.optionFlags & kHttpNoWaitForResponse) != 0)
        return Attempt::Done;
    if (const platform::HttpError receiveError = handle->ReceiveResponse(); receiveError != platform::kHttpOk)
    {
        DropCurrentRequest();
        m_lastError = receiveError;
        return Attempt::TryOther;
    }

    std::uint32_t status = 0;
    handle->QueryStatusCode(status);
    m_statusCode = status;
    if (status != 204)
    {
        std::uint32_t length = 0;
        if (handle->QueryContentLength(length) == platform::kHttpOk)
            m_contentLength = length;
    }

    if (status == 401 && m_authScheme == 0 && withCredentials)
    {
        // A server that names no scheme this stack can answer: the 401 is its answer, and the caller
        // reports invalid credentials rather than a request that could not be sent. Nothing is learned,
        // since a scheme the stack refuses would fail every later request before it is sent.
        const std::uint32_t chosen = ChooseAuthScheme(*handle);
        if (chosen == 0)
            return Attempt::Done;
        m_authScheme = chosen;
        // The server answered over this one of HTTP and HTTPS: the repeat starts with it.
        m_secure = request.secure;
        DropCurrentRequest();
        if (m_cancelled)
            return Attempt::Failed;
        return Send(request) ? Attempt::Done : Attempt::TryOther;
    }
    return Attempt::Done;
}

std::uint32_t CHttpSender::ChooseAuthScheme(platform::IWinHttpRequest& request) const
{
    std::uint32_t supported = 0;
    std::uint32_t first = 0;
    std::uint32_t target = 0;
    if (!m_session || request.QueryAuthSchemes(supported, first, target) != platform::kHttpOk)
        return 0;
    const std::uint32_t answerable = m_session->AnswerableAuthSchemes();
    if ((first & answerable) != 0)
        return first;
    // Strongest first, as WinHTTP's own guidance orders them.
    for (const std::uint32_t scheme :
         {platform::kWinHttpAuthNegotiate, platform::kWinHttpAuthNtlm, platform::kWinHttpAuthPassport,
          platform::kWinHttpAuthDigest, platform::kWinHttpAuthBasic})
    {
        if ((supported & answerable & scheme) != 0)
            return scheme;
    }
    return 0;
}

void CHttpSender::CloseRequest()
{
    std::shared_ptr<platform::IWinHttpRequest> request;
    {
        std::lock_guard lock(m_requestMutex);
        m_cancelled = true;
        request = std::move(m_request);
    }
    if (request)
        request->Cancel();
}

std::shared_ptr<platform::IWinHttpRequest> CHttpSender::CurrentRequest()
{
    std::lock_guard lock(m_requestMutex);
    return m_request;
}

bool CHttpSender::MakeCurrent(const std::shared_ptr<platform::IWinHttpRequest>& request)
{
    std::lock_guard lock(m_requestMutex);
    if (m_cancelled)
        return false;
    m_request = request;
    return true;
}

void CHttpSender::DropCurrentRequest()
{
    std::shared_ptr<platform::IWinHttpRequest> request;
    {
        std::lock_guard lock(m_requestMutex);
        request = std::move(m_request);
    }
    // Released outside the lock: closing a connection is no work for a lock that CloseRequest needs.
}

std::uint32_t CHttpSender::QueryDataAvailable()
{
    const auto request = CurrentRequest();
    std::uint32_t available = 0;
    if (!request || request->QueryDataAvailable(available) != platform::kHttpOk)
        return 0;
    return available;
}

std::uint32_t CHttpSender::ReadAll(std::vector<std::uint8_t>& body)
{
    body.clear();
    if (!CurrentRequest())
        return 0;
    const std::uint32_t announced = m_contentLength;
    if (announced > kBodyLimit)
        return 0;
    const std::uint32_t expected = announced != 0 ? announced : kBodyLimit;
    std::uint32_t remaining = expected;
    std::array<std::uint8_t, kReadChunk> chunk;
    std::uint32_t read = 1;
    while (read > 0 && remaining > 0)
    {
        const auto request = CurrentRequest();
        // Closed from another thread: whatever came is not the whole body.
        if (!request)
        {
            body.clear();
            return 0;
        }
        const platform::HttpError error =
            request->ReadData(std::span(chunk.data(), std::min(remaining, kReadChunk)), read);
        if (error != platform::kHttpOk)
        {
            // Some cameras keep the connection open after a body of no announced length: silence ends it.
            if (error == platform::kHttpErrorTimeout && announced == 0)
                break;
            body.clear();
            return 0;
        }
        body.insert(body.end(), chunk.begin(), chunk.begin() + read);
        remaining -= std::min(read, remaining);
    }
    return KeepWholeBody(body, announced, expected);
}

std::uint32_t CHttpSender::Read(std::vector<std::uint8_t>& bytes, std::uint32_t count, bool clearFirst)
{
    return ReadFrom(CurrentRequest().get(), bytes, count, clearFirst);
}
}
