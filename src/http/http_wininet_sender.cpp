#include "http/http_wininet_sender.h"

#include <algorithm>
#include <span>
#include <string>

#include "runtime/format_string.h"

namespace Web
{
namespace
{
namespace platform = kestrav::platform;
}

CWinInetSender::CWinInetSender(const kestrav::DEVICE_INFO& device, platform::IHttpTransport& transport)
    : CBaseHttpSender(device)
{
    Initialize(transport);
}

CWinInetSender::~CWinInetSender()
{
    CloseRequest();
    kestrav::CRecursiveLockGuard guard(m_lock);
    m_connect.reset();
    m_session.reset();
}

void CWinInetSender::Initialize(platform::IHttpTransport& transport)
{
    platform::HttpError error = transport.InternetOpen(kAgent, m_session);
    if (error == platform::kHttpOk && !m_session)
        error = platform::kHttpErrorInternal;
    const std::uint32_t timeout = m_device.requestTimeoutMs;
    for (const platform::WinInetOption option :
         {platform::WinInetOption::ReceiveTimeout, platform::WinInetOption::SendTimeout,
          platform::WinInetOption::ConnectTimeout})
    {
        if (error != platform::kHttpOk)
            break;
        error = m_session->SetOption(option, timeout);
    }
    if (error == platform::kHttpOk)
        return;
    transport.OutputDebugText(
        kestrav::FormatString("%s - failed, code=%u", "Web::CWinInetSender::Initialize", static_cast<unsigned>(error)));
    m_session.reset();
}

bool CWinInetSender::SendRequest(const HttpRequest& request)
{
    m_statusCode = 0;
    m_contentLength = 0;
    {
        kestrav::CRecursiveLockGuard guard(m_lock);
        if (!m_connect)
        {
            if (!m_session ||
                m_session->Connect(m_device.address, m_device.port, m_device.userName, m_device.password,
                                   platform::kInternetServiceHttp, m_connect) != platform::kHttpOk ||
                !m_connect)
            {
                m_connect.reset();
                return false;
            }
        }
    }
    CloseRequest();
    if (request.verb.empty() || request.urlPath.empty())
        return false;

    std::shared_ptr<platform::IWinInetRequest> handle;
    {
        kestrav::CRecursiveLockGuard guard(m_lock);
        if (m_connect->OpenRequest(request.verb, request.urlPath, {"*/*"},
                                   platform::kInternetFlagNoCacheWrite | platform::kInternetFlagKeepConnection,
                                   handle) != platform::kHttpOk ||
            !handle)
            return false;
        // Current before the send blocks, so that CloseRequest can end it; any other one is closed.
        if (m_request)
            m_request->Cancel();
        m_request = handle;
    }
    if (handle->SendRequest(request.body) != platform::kHttpOk)
    {
        kestrav::CRecursiveLockGuard guard(m_lock);
        if (m_request == handle)
            m_request.reset();
        return false;
    }
    std::uint32_t status = 0;
    handle->QueryStatusCode(status);
    m_statusCode = status;
    std::uint32_t length = 0;
    if (handle->QueryContentLength(length) == platform::kHttpOk)
        m_contentLength = length;
    return true;
}

void CWinInetSender::CloseRequest()
{
    std::shared_ptr<platform::IWinInetRequest> request;
    {
        kestrav::CRecursiveLockGuard guard(m_lock);
        request = std::move(m_request);
    }
    if (request)
        request->Cancel();
}

std::shared_ptr<platform::IWinInetRequest> CWinInetSender::CurrentRequest()
{
    kestrav::CRecursiveLockGuard guard(m_lock);
    return m_request;
}

std::uint32_t CWinInetSender::QueryDataAvailable()
{
    const auto request = CurrentRequest();
    std::uint32_t available = 0;
    if (!request || request->QueryDataAvailable(available) != platform::kHttpOk)
        return 0;
    return available;
}

std::uint32_t CWinInetSender::ReadAll(std::vector<std::uint8_t>& body)
{
    body.clear();
    const std::uint32_t announced = m_contentLength;
    if (announced > kBodyLimit)
        return 0;
    const std::uint32_t expected = announced != 0 ? announced : kBodyLimit;
    while (body.size() < expected)
    {
        const auto request = CurrentRequest();
        // Closed from another thread: whatever came is not the whole body.
        if (!request)
        {
            body.clear();
            return 0;
        }
        std::uint32_t available = 0;
        const platform::HttpError error = request->QueryDataAvailable(available);
        if (error != platform::kHttpOk)
        {
            // Silence ends a body of no announced length; any other failure leaves it incomplete.
            if (error == platform::kHttpErrorTimeout && announced == 0)
                break;
            body.clear();
            return 0;
        }
        if (available == 0)
            break;
        const auto before = static_cast<std::uint32_t>(body.size());
        if (Read(body, std::min({available, kReadChunk, expected - before}), false) == 0)
            break;
    }
    return KeepWholeBody(body, announced, expected);
}

std::uint32_t CWinInetSender::Read(std::vector<std::uint8_t>& bytes, std::uint32_t count, bool clearFirst)
{
    return ReadFrom(CurrentRequest().get(), bytes, count, clearFirst);
}
}
