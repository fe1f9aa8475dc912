// The WinINet-shaped stack on WinINet itself, in asynchronous mode (see http_completion_win32.h):
// credentials given at connect, challenges answered by WinINet, the response head received with the
// send.
// winsock2.h before windows.h, as every Windows header of the platform layer has it.
#include <winsock2.h>

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_head.h"
#include "platform/http_transport.h"
#include "platform/win32/http_completion_win32.h"
#include "platform/win32/http_transport_win32.h"

namespace kestrav::platform::win32
{
namespace
{
// WinINet's numbers are WinHTTP's (both count from 12000); TLS failures come as WinINet's own
// ERROR_INTERNET_SEC_* numbers and pass through as they are.
static_assert(kHttpErrorTimeout == ERROR_INTERNET_TIMEOUT);
static_assert(kHttpErrorInternal == ERROR_INTERNET_INTERNAL_ERROR);
static_assert(kHttpErrorInvalidUrl == ERROR_INTERNET_INVALID_URL);
static_assert(kHttpErrorNameNotResolved == ERROR_INTERNET_NAME_NOT_RESOLVED);
static_assert(kHttpErrorInvalidOption == ERROR_INTERNET_INVALID_OPTION);
static_assert(kHttpErrorOperationCancelled == ERROR_INTERNET_OPERATION_CANCELLED);
static_assert(kHttpErrorIncorrectHandleState == ERROR_INTERNET_INCORRECT_HANDLE_STATE);
static_assert(kHttpErrorCannotConnect == ERROR_INTERNET_CANNOT_CONNECT);
static_assert(kHttpErrorConnectionError == ERROR_INTERNET_CONNECTION_ABORTED);
static_assert(kHttpErrorHeaderNotFound == ERROR_HTTP_HEADER_NOT_FOUND);
static_assert(kHttpErrorInvalidServerResponse == ERROR_HTTP_INVALID_SERVER_RESPONSE);
static_assert(static_cast<DWORD>(WinInetOption::ConnectTimeout) == INTERNET_OPTION_CONNECT_TIMEOUT);
static_assert(static_cast<DWORD>(WinInetOption::SendTimeout) == INTERNET_OPTION_SEND_TIMEOUT);
static_assert(static_cast<DWORD>(WinInetOption::ReceiveTimeout) == INTERNET_OPTION_RECEIVE_TIMEOUT);
static_assert(kInternetServiceHttp == INTERNET_SERVICE_HTTP);
static_assert(kInternetFlagKeepConnection == INTERNET_FLAG_KEEP_CONNECTION);
static_assert(kInternetFlagNoCacheWrite == INTERNET_FLAG_NO_CACHE_WRITE);

// The caller's flags that are passed on; the rest are this transport's.
constexpr DWORD kPassedFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE |
                               INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
// Never a dialog in the host's process, never the user's cookies, never an answer from the cache.
constexpr DWORD kOwnFlags = INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_RELOAD;
// An answer that arrives in pieces needs a few waits for data before the stack has some to report.
constexpr int kLongestDataWaits = 8;

// Milliseconds, 0 waiting forever; WinINet's defaults until the session sets its own.
struct WinInetTimeouts
{
    std::uint32_t connect = 60000;
    std::uint32_t send = 30000;
    std::uint32_t receive = 30000;

    // The send returns with the response head.
    std::uint32_t SendBudget() const
    {
        if (connect == 0 || send == 0 || receive == 0)
            return 0;
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{connect} + send + receive, INFINITE - 1));
    }
};

void CALLBACK OnWinInetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    auto* const completion = reinterpret_cast<HttpCompletion*>(context);
    if (completion == nullptr)
        return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE)
    {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        if (result == nullptr)
            completion->Complete(kHttpErrorInternal, 0);
        else if (result->dwResult == 0)
            completion->Complete(StackError(result->dwError), 0);
        else
            completion->Complete(kHttpOk, static_cast<std::uint32_t>(result->dwResult));
    }
    else if (status == INTERNET_STATUS_HANDLE_CLOSING)
        completion->HandleClosing();
}

// A call that WinINet may finish at once (TRUE) or report later (ERROR_IO_PENDING).
HttpCallStart Started(BOOL ok, std::uint32_t value)
{
    HttpCallStart start;
    if (ok)
    {
        start.kind = HttpCallStart::Kind::Completed;
        start.value = value;
    }
    else if (GetLastError() == ERROR_IO_PENDING)
        start.kind = HttpCallStart::Kind::Pending;
    else
        start.error = LastHttpError();
    return start;
}

class WinInetRequest final : public IWinInetRequest
{
public:
    explicit WinInetRequest(const WinInetTimeouts& timeouts) : m_completion(&InternetCloseHandle), m_timeouts(timeouts)
    {
    }

    bool IsUsable() const { return static_cast<bool>(m_completion); }
    void Attach(HINTERNET handle) { m_completion->Attach(handle); }
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(m_completion.get()); }

    HttpError ApplyTimeouts()
    {
        for (const auto& [option, value] : {std::pair{INTERNET_OPTION_CONNECT_TIMEOUT, m_timeouts.connect},
                                            std::pair{INTERNET_OPTION_SEND_TIMEOUT, m_timeouts.send},
                                            std::pair{INTERNET_OPTION_RECEIVE_TIMEOUT, m_timeouts.receive}})
        {
            // WinINet's endless wait is all bits set, where the transport's is 0.
            DWORD native = value == 0 ? INFINITE : value;
            const HttpError error = m_completion->Use(
                [&](void* handle) { return CallResult(InternetSetOptionW(handle, option, &native, sizeof(native))); });
            if (error != kHttpOk)
                return error;
        }
        return kHttpOk;
    }

    HttpError SendRequest(std::span<const std::uint8_t> body) override
    {
        if (m_sent)
            return kHttpErrorIncorrectHandleState;
        m_sent = true;
        try
        {
            m_completion->sendBody.assign(body.begin(), body.end());
            m_completion->readBuffer.reserve(kLargestBodyRead);
        }
        catch (const std::bad_alloc&)
        {
            return kHttpErrorNotEnoughMemory;
        }
        std::vector<std::uint8_t>& sent = m_completion->sendBody;
        const auto size = static_cast<DWORD>(sent.size());
        std::uint32_t unused = 0;
        const HttpError error = m_completion->Run(
            m_timeouts.SendBudget(),
            [&](void* handle)
            { return Started(HttpSendRequestW(handle, nullptr, 0, size == 0 ? nullptr : sent.data(), size), 1); },
            unused);
        m_received = error == kHttpOk;
        return error;
    }

    HttpError QueryStatusCode(std::uint32_t& status) override
    {
        status = 0;
        if (!m_received)
            return kHttpErrorIncorrectHandleState;
        DWORD value = 0;
        DWORD size = sizeof(value);
        const HttpError error = m_completion->Use(
            [&](void* handle)
            {
                return CallResult(
                    HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr));
            });
        status = value;
        return error;
    }

    HttpError QueryContentLength(std::uint32_t& length) override
    {
        length = 0;
        if (!m_received)
            return kHttpErrorIncorrectHandleState;
        return ReadContentLength(
            *m_completion.get(),
            [](void* handle, wchar_t* text, DWORD* size)
            { return HttpQueryInfoW(handle, HTTP_QUERY_CONTENT_LENGTH, text, size, nullptr); },
            length);
    }

    HttpError QueryDataAvailable(std::uint32_t& available) override
    {
        available = 0;
        if (!m_received)
            return kHttpErrorIncorrectHandleState;
        DWORD& count = m_completion->readCount;
        // A wait that ends says data came (or the end); asking again then answers at once. The waits
        // share one time-out.
        const ULONGLONG start = GetTickCount64();
        for (int wait = 0; wait < kLongestDataWaits; ++wait)
        {
            std::uint32_t left = m_timeouts.receive;
            if (left != 0)
            {
                const ULONGLONG spent = GetTickCount64() - start;
                if (spent >= left)
                    break;
                left -= static_cast<std::uint32_t>(spent);
            }
            bool immediate = false;
            std::uint32_t value = 0;
            const HttpError error = m_completion->Run(
                left,
                [&](void* handle)
                {
                    count = 0;
                    const HttpCallStart started = Started(InternetQueryDataAvailable(handle, &count, 0, 0), 0);
                    immediate = started.kind == HttpCallStart::Kind::Completed;
                    return started;
                },
                value);
            if (error != kHttpOk || immediate)
            {
                available = error == kHttpOk ? count : 0;
                return error;
            }
        }
        return kHttpErrorTimeout;
    }

    HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) override
    {
        read = 0;
        std::uint32_t available = 0;
        if (const HttpError error = QueryDataAvailable(available); error != kHttpOk || available == 0)
            return error;
        // Into the completion's buffer and count: a read given up on may still finish into them.
        const std::uint32_t wanted = m_completion->PrepareRead(std::min<std::size_t>(buffer.size(), available));
        if (wanted == 0)
            return kHttpOk;
        std::uint8_t* const target = m_completion->readBuffer.data();
        DWORD& count = m_completion->readCount;
        std::uint32_t unused = 0;
        const HttpError error = m_completion->Run(
            m_timeouts.receive,
            [&](void* handle)
            {
                count = 0;
                return Started(InternetReadFile(handle, target, wanted, &count), 0);
            },
            unused);
        if (error != kHttpOk)
            return error;
        read = m_completion->CopyRead(buffer, count);
        return kHttpOk;
    }

    void Cancel() override { m_completion->Cancel(); }

private:
    HttpCompletionOwner m_completion;
    WinInetTimeouts m_timeouts;
    bool m_sent = false;
    bool m_received = false;
};

class WinInetConnection final : public IWinInetConnection
{
public:
    WinInetConnection(HINTERNET connection, const WinInetTimeouts& timeouts)
        : m_connection(connection), m_timeouts(timeouts)
    {
    }
    ~WinInetConnection() override { InternetCloseHandle(m_connection); }
    WinInetConnection(const WinInetConnection&) = delete;
    WinInetConnection& operator=(const WinInetConnection&) = delete;

    HttpError OpenRequest(const std::string& verb, const std::string& objectName,
                          const std::vector<std::string>& acceptTypes, std::uint32_t flags,
                          std::shared_ptr<IWinInetRequest>& request) override
    {
        request.reset();
        if (!IsRequestVerb(verb))
            return kHttpErrorInvalidParameter;
        std::shared_ptr<WinInetRequest> opened;
        std::vector<std::wstring> accept;
        std::vector<LPCWSTR> acceptList;
        try
        {
            for (const std::string& type : acceptTypes)
            {
                if (type.empty() || !IsSingleLine(type))
                    return kHttpErrorInvalidParameter;
                accept.push_back(Widen(type));
            }
            for (const std::wstring& type : accept)
                acceptList.push_back(type.c_str());
            acceptList.push_back(nullptr);
            opened = std::make_shared<WinInetRequest>(m_timeouts);
        }
        catch (const std::bad_alloc&)
        {
            return kHttpErrorNotEnoughMemory;
        }
        if (!opened->IsUsable())
            return kHttpErrorNotEnoughMemory;
        // The context goes with the handle from its creation, so every report of it finds the request.
        const HINTERNET handle =
            HttpOpenRequestW(m_connection, Widen(verb).c_str(), Widen(RequestTarget(objectName)).c_str(), nullptr,
                             nullptr, acceptList.data(), (flags & kPassedFlags) | kOwnFlags, opened->Context());
        if (handle == nullptr)
            return LastHttpError();
        opened->Attach(handle);
        if (const HttpError error = opened->ApplyTimeouts(); error != kHttpOk)
            return error;
        request = std::move(opened);
        return kHttpOk;
    }

private:
    HINTERNET m_connection;
    WinInetTimeouts m_timeouts;
};

class WinInetSession final : public IWinInetSession
{
public:
    explicit WinInetSession(HINTERNET session) : m_session(session) {}
    ~WinInetSession() override { InternetCloseHandle(m_session); }
    WinInetSession(const WinInetSession&) = delete;
    WinInetSession& operator=(const WinInetSession&) = delete;

    HttpError SetOption(WinInetOption option, std::uint32_t value) override
    {
        switch (option)
        {
        case WinInetOption::ConnectTimeout:
            m_timeouts.connect = value;
            return kHttpOk;
        case WinInetOption::SendTimeout:
            m_timeouts.send = value;
            return kHttpOk;
        case WinInetOption::ReceiveTimeout:
            m_timeouts.receive = value;
            return kHttpOk;
        }
        return kHttpErrorInvalidOption;
    }

    HttpError Connect(const std::string& serverName, std::uint16_t port, const std::string& userName,
                      const std::string& password, std::uint32_t service,
                      std::unique_ptr<IWinInetConnection>& connection) override
    {
        connection.reset();
        if (service != kInternetServiceHttp)
            return kHttpErrorInvalidParameter;
        if (!IsServerName(serverName))
            return kHttpErrorInvalidUrl;
        const std::wstring user = Widen(userName);
        const std::wstring secret = Widen(password);
        // Without a context: only requests report, and for HTTP this call does no network work.
        const HINTERNET handle =
            InternetConnectW(m_session, Widen(serverName).c_str(), port, user.empty() ? nullptr : user.c_str(),
                             user.empty() ? nullptr : secret.c_str(), INTERNET_SERVICE_HTTP, 0, 0);
        if (handle == nullptr)
            return LastHttpError();
        try
        {
            connection = std::make_unique<WinInetConnection>(handle, m_timeouts);
        }
        catch (const std::bad_alloc&)
        {
            InternetCloseHandle(handle);
            return kHttpErrorNotEnoughMemory;
        }
        return kHttpOk;
    }

private:
    HINTERNET m_session;
    WinInetTimeouts m_timeouts;
    HttpSessionCount m_count;
};
}

HttpError OpenWinInetSession(const std::string& agent, const HttpTransportSettings&,
                             std::unique_ptr<IWinInetSession>& session)
{
    session.reset();
    // The senders of this stack speak plain HTTP; a secure request would check the system's store.
    const HINTERNET handle =
        InternetOpenW(Widen(agent).c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    if (handle == nullptr)
        return LastHttpError();
    if (InternetSetStatusCallbackW(handle, &OnWinInetStatus) == INTERNET_INVALID_STATUS_CALLBACK)
    {
        const HttpError error = LastHttpError();
        InternetCloseHandle(handle);
        return error;
    }
    try
    {
        session = std::make_unique<WinInetSession>(handle);
    }
    catch (const std::bad_alloc&)
    {
        InternetCloseHandle(handle);
        return kHttpErrorNotEnoughMemory;
    }
    return kHttpOk;
}
}
