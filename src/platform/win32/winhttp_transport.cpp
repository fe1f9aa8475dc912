// The WinHTTP-shaped stack on WinHTTP itself, in asynchronous mode (see http_completion_win32.h).
//
// Under Wine, WinHTTP reports an asynchronous send complete only once the response head has come, so
// there SendRequest waits for the head within its own budget and ReceiveResponse returns at once.
// winsock2.h before windows.h, as every Windows header of the platform layer has it.
#include <winsock2.h>

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/http_head.h"
#include "platform/http_transport.h"
#include "platform/win32/http_completion_win32.h"
#include "platform/win32/http_transport_win32.h"
#include "platform/win32/winhttp_certificates.h"

namespace kestrav::platform::win32
{
namespace
{
// The transport's numbers are WinHTTP's own; the compiler checks each against the SDK.
static_assert(kHttpErrorTimeout == ERROR_WINHTTP_TIMEOUT);
static_assert(kHttpErrorInternal == ERROR_WINHTTP_INTERNAL_ERROR);
static_assert(kHttpErrorInvalidUrl == ERROR_WINHTTP_INVALID_URL);
static_assert(kHttpErrorNameNotResolved == ERROR_WINHTTP_NAME_NOT_RESOLVED);
static_assert(kHttpErrorInvalidOption == ERROR_WINHTTP_INVALID_OPTION);
static_assert(kHttpErrorOperationCancelled == ERROR_WINHTTP_OPERATION_CANCELLED);
static_assert(kHttpErrorIncorrectHandleState == ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
static_assert(kHttpErrorCannotConnect == ERROR_WINHTTP_CANNOT_CONNECT);
static_assert(kHttpErrorConnectionError == ERROR_WINHTTP_CONNECTION_ERROR);
static_assert(kHttpErrorHeaderNotFound == ERROR_WINHTTP_HEADER_NOT_FOUND);
static_assert(kHttpErrorInvalidServerResponse == ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
static_assert(kHttpErrorSecureFailure == ERROR_WINHTTP_SECURE_FAILURE);
static_assert(kHttpErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kHttpErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(static_cast<DWORD>(WinHttpOption::ResolveTimeout) == WINHTTP_OPTION_RESOLVE_TIMEOUT);
static_assert(static_cast<DWORD>(WinHttpOption::ConnectTimeout) == WINHTTP_OPTION_CONNECT_TIMEOUT);
static_assert(static_cast<DWORD>(WinHttpOption::SendTimeout) == WINHTTP_OPTION_SEND_TIMEOUT);
static_assert(static_cast<DWORD>(WinHttpOption::ReceiveTimeout) == WINHTTP_OPTION_RECEIVE_TIMEOUT);
static_assert(static_cast<DWORD>(WinHttpOption::ReceiveResponseTimeout) == WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT);
static_assert(static_cast<DWORD>(WinHttpOption::SecurityFlags) == WINHTTP_OPTION_SECURITY_FLAGS);
static_assert(static_cast<DWORD>(WinHttpOption::DisableFeature) == WINHTTP_OPTION_DISABLE_FEATURE);
static_assert(static_cast<DWORD>(WinHttpOption::MaxConnectionsPerServer) == WINHTTP_OPTION_MAX_CONNS_PER_SERVER);
static_assert(static_cast<DWORD>(WinHttpOption::MaxConnectionsPer1_0Server) == WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER);
static_assert(kWinHttpFlagEscapeDisableQuery == WINHTTP_FLAG_ESCAPE_DISABLE_QUERY);
static_assert(kWinHttpFlagRefresh == WINHTTP_FLAG_REFRESH);
static_assert(kWinHttpFlagSecure == WINHTTP_FLAG_SECURE);
static_assert(kWinHttpSecurityIgnoreUnknownCa == SECURITY_FLAG_IGNORE_UNKNOWN_CA);
static_assert(kWinHttpSecurityIgnoreWrongUsage == SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE);
static_assert(kWinHttpSecurityIgnoreCertCnInvalid == SECURITY_FLAG_IGNORE_CERT_CN_INVALID);
static_assert(kWinHttpSecurityIgnoreCertDateInvalid == SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
static_assert(kWinHttpDisableRedirects == WINHTTP_DISABLE_REDIRECTS);
static_assert(kWinHttpAddHeaderAdd == WINHTTP_ADDREQ_FLAG_ADD);
static_assert(kWinHttpAddHeaderReplace == WINHTTP_ADDREQ_FLAG_REPLACE);
static_assert(kWinHttpAuthBasic == WINHTTP_AUTH_SCHEME_BASIC);
static_assert(kWinHttpAuthNtlm == WINHTTP_AUTH_SCHEME_NTLM);
static_assert(kWinHttpAuthPassport == WINHTTP_AUTH_SCHEME_PASSPORT);
static_assert(kWinHttpAuthDigest == WINHTTP_AUTH_SCHEME_DIGEST);
static_assert(kWinHttpAuthNegotiate == WINHTTP_AUTH_SCHEME_NEGOTIATE);
static_assert(kWinHttpAuthTargetServer == WINHTTP_AUTH_TARGET_SERVER);

// The schemes WinHTTP answers of those cameras speak (Basic and Digest); NTLM and Negotiate would offer
// the host's Windows logon. Wine's WinHTTP has no Digest: there the stack says so rather than send
// credentials that cannot be answered.
std::uint32_t AnswerableSchemes()
{
    static const std::uint32_t schemes = []
    {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
        return wine ? kWinHttpAuthBasic : kWinHttpAuthBasic | kWinHttpAuthDigest;
    }();
    return schemes;
}

// Milliseconds, 0 waiting forever; WinHTTP's defaults until the session sets its own.
struct WinHttpTimeouts
{
    std::uint32_t resolve = 0;
    std::uint32_t connect = 60000;
    std::uint32_t send = 30000;
    std::uint32_t receive = 30000;
    std::uint32_t receiveResponse = 90000;

    bool Set(WinHttpOption option, std::uint32_t value)
    {
        switch (option)
        {
        case WinHttpOption::ResolveTimeout:
            resolve = value;
            return true;
        case WinHttpOption::ConnectTimeout:
            connect = value;
            return true;
        case WinHttpOption::SendTimeout:
            send = value;
            return true;
        case WinHttpOption::ReceiveTimeout:
            receive = value;
            return true;
        case WinHttpOption::ReceiveResponseTimeout:
            receiveResponse = value;
            return true;
        default:
            return false;
        }
    }

    // The name look-up, the connection and the sending together.
    std::uint32_t SendBudget() const
    {
        if (connect == 0 || send == 0)
            return 0;
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{resolve} + connect + send, INFINITE - 1));
    }
};

HttpCompletion* CompletionOf(DWORD_PTR context)
{
    return reinterpret_cast<HttpCompletion*>(context);
}

// Runs on WinHTTP's threads, or inside a call on the owner's; only requests carry a context.
void CALLBACK OnWinHttpStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    HttpCompletion* const completion = CompletionOf(context);
    if (completion == nullptr)
        return;
    switch (status)
    {
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
        // The TLS handshake is done and nothing has been sent: the moment to refuse a server whose
        // certificate the settings do not trust, before it sees any credentials.
        if (const auto check = std::static_pointer_cast<const CertificateCheck>(completion->callbackData);
            check && !check->Passes(handle))
            completion->Reject(kHttpErrorSecureFailure);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        completion->Complete(kHttpOk, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        completion->Complete(
            kHttpOk, information != nullptr && length >= sizeof(DWORD) ? *static_cast<const DWORD*>(information) : 0);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        completion->Complete(kHttpOk, length);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
    {
        const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(information);
        completion->Complete(StackError(result != nullptr ? result->dwError : 0), 0);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        completion->HandleClosing();
        break;
    default:
        break;
    }
}

// A session or connection handle, closed without a report: only requests are counted for the module's
// way out, and WinHTTP would report these handles' closing into this module's code too, some time
// after their last request.
void CloseUnreported(HINTERNET handle)
{
    WinHttpSetStatusCallback(handle, nullptr, 0, 0);
    WinHttpCloseHandle(handle);
}

HttpCallStart Started(BOOL ok)
{
    HttpCallStart start;
    if (ok)
        start.kind = HttpCallStart::Kind::Pending;
    else
        start.error = LastHttpError();
    return start;
}

class WinHttpRequest final : public IWinHttpRequest
{
public:
    WinHttpRequest(const WinHttpTimeouts& timeouts, std::shared_ptr<const TrustedCertificates> trust,
                   const std::string& serverName, bool secure)
        : m_completion(&WinHttpCloseHandle), m_timeouts(timeouts), m_trust(std::move(trust)), m_serverName(serverName),
          m_secure(secure)
    {
    }

    bool IsUsable() const { return static_cast<bool>(m_completion); }
    void Attach(HINTERNET handle) { m_completion->Attach(handle); }
    DWORD_PTR Context() const { return reinterpret_cast<DWORD_PTR>(m_completion.get()); }

    HttpError SetCredentials(std::uint32_t target, std::uint32_t scheme, const std::string& userName,
                             const std::string& password) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (target != kWinHttpAuthTargetServer)
            return kHttpErrorInvalidParameter;
        if ((scheme != kWinHttpAuthBasic && scheme != kWinHttpAuthDigest) || (scheme & AnswerableSchemes()) == 0)
            return kHttpErrorInvalidParameter;
        m_userName = Widen(userName);
        m_password = Widen(password);
        const HttpError error = ApplyCredentials(scheme);
        if (error == kHttpOk)
            m_scheme = scheme;
        return error;
    }

    HttpError SetOption(WinHttpOption option, std::uint32_t value) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (option == WinHttpOption::SecurityFlags)
        {
            m_securityFlags = value;
            return kHttpOk;
        }
        if (option != WinHttpOption::DisableFeature && !m_timeouts.Set(option, value))
            return kHttpErrorInvalidOption;
        DWORD native = value;
        return m_completion->Use(
            [&](void* handle)
            { return CallResult(WinHttpSetOption(handle, static_cast<DWORD>(option), &native, sizeof(native))); });
    }

    HttpError AddRequestHeaders(const std::string& line, std::uint32_t modifiers) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        // A line break inside would let the caller's text add headers of its own.
        if (HeaderName(line).empty() || !IsSingleLine(line))
            return kHttpErrorInvalidParameter;
        const std::wstring wide = Widen(line);
        return m_completion->Use(
            [&](void* handle) {
                return CallResult(
                    WinHttpAddRequestHeaders(handle, wide.c_str(), static_cast<DWORD>(wide.size()), modifiers));
            });
    }

    HttpError SendRequest(std::span<const std::uint8_t> body, std::uint32_t totalLength) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (totalLength > body.size())
            return kHttpErrorInvalidParameter;
        try
        {
            m_completion->sendBody.assign(body.begin(), body.end());
            m_completion->readBuffer.reserve(kLargestBodyRead);
        }
        catch (const std::bad_alloc&)
        {
            return kHttpErrorNotEnoughMemory;
        }
        if (const HttpError error = ApplySecurityFlags(); error != kHttpOk)
            return error;
        m_state = State::Sent;
        return Send();
    }

    HttpError ReceiveResponse() override
    {
        if (m_state != State::Sent)
            return kHttpErrorIncorrectHandleState;
        HttpError error = Receive();
        // WinHTTP answers a challenge by itself when it can; where it did not (a Digest challenge to a
        // request that went without credentials), the request goes once more, as WinHTTP's own guidance
        // has it.
        if (error == kHttpOk && ShouldAnswerChallenge())
        {
            error = ApplyCredentials(m_scheme);
            if (error == kHttpOk)
                error = Send();
            if (error == kHttpOk)
                error = Receive();
        }
        if (error == kHttpOk)
            m_state = State::Received;
        return error;
    }

    HttpError QueryStatusCode(std::uint32_t& status) override
    {
        status = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        return Status(status);
    }

    HttpError QueryContentLength(std::uint32_t& length) override
    {
        length = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        return ReadContentLength(
            *m_completion.get(),
            [](void* handle, wchar_t* text, DWORD* size)
            {
                return WinHttpQueryHeaders(handle, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text,
                                           size, WINHTTP_NO_HEADER_INDEX);
            },
            length);
    }

    HttpError QueryAuthSchemes(std::uint32_t& supported, std::uint32_t& first, std::uint32_t& target) override
    {
        supported = 0;
        first = 0;
        target = kWinHttpAuthTargetServer;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        DWORD nativeSupported = 0;
        DWORD nativeFirst = 0;
        DWORD nativeTarget = 0;
        const HttpError error = m_completion->Use(
            [&](void* handle)
            { return CallResult(WinHttpQueryAuthSchemes(handle, &nativeSupported, &nativeFirst, &nativeTarget)); });
        if (error != kHttpOk)
            return error;
        supported = nativeSupported;
        first = nativeFirst;
        target = nativeTarget;
        return first == 0 ? kHttpErrorHeaderNotFound : kHttpOk;
    }

    HttpError QueryDataAvailable(std::uint32_t& available) override
    {
        available = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        // What the stack reported and nobody read yet is there without asking: asking again waits, under
        // Wine, for the next chunk of a chunked body.
        if (m_available > 0)
        {
            available = m_available;
            return m_completion->Use([](void*) { return kHttpOk; });
        }
        const HttpError error = m_completion->Run(
            m_timeouts.receive, [](void* handle) { return Started(WinHttpQueryDataAvailable(handle, nullptr)); },
            available);
        m_available = error == kHttpOk ? available : 0;
        return error;
    }

    HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) override
    {
        read = 0;
        std::uint32_t available = 0;
        if (const HttpError error = QueryDataAvailable(available); error != kHttpOk || available == 0)
            return error;
        // Read into the completion's buffer: a read given up on may still finish into it.
        const std::uint32_t wanted = m_completion->PrepareRead(std::min<std::size_t>(buffer.size(), available));
        if (wanted == 0)
            return kHttpOk;
        std::uint8_t* const target = m_completion->readBuffer.data();
        std::uint32_t count = 0;
        const HttpError error = m_completion->Run(
            m_timeouts.receive, [&](void* handle) { return Started(WinHttpReadData(handle, target, wanted, nullptr)); },
            count);
        m_available = 0;
        if (error != kHttpOk)
            return error;
        read = m_completion->CopyRead(buffer, count);
        // Nothing read where something was reported: the stack has no more after all.
        m_available = read == 0 ? 0 : available - std::min(read, available);
        return kHttpOk;
    }

    void Cancel() override { m_completion->Cancel(); }

private:
    enum class State
    {
        Opened,
        Sent,
        Received,
    };

    HttpError ApplyCredentials(std::uint32_t scheme)
    {
        return m_completion->Use(
            [&](void* handle)
            {
                return CallResult(WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER, scheme, m_userName.c_str(),
                                                        m_password.c_str(), nullptr));
            });
    }

    HttpError ApplySecurityFlags()
    {
        DWORD flags = m_securityFlags;
        // A certificate file of the settings replaces the system's store: WinHTTP is told to let an
        // unknown issuer and the name pass, and the status callback checks both against the file and
        // the server's name instead. The dates stay WinHTTP's to check.
        if (m_secure && m_trust && (flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA) == 0)
        {
            try
            {
                auto check = std::make_shared<CertificateCheck>();
                check->trust = m_trust;
                if ((flags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) == 0)
                    check->serverName = m_serverName;
                m_completion->callbackData = std::move(check);
            }
            catch (const std::bad_alloc&)
            {
                return kHttpErrorNotEnoughMemory;
            }
            flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        }
        if (flags == 0)
            return kHttpOk;
        return m_completion->Use(
            [&](void* handle)
            { return CallResult(WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))); });
    }

    HttpError Send()
    {
        std::vector<std::uint8_t>& body = m_completion->sendBody;
        const auto size = static_cast<DWORD>(body.size());
        const DWORD_PTR context = Context();
        std::uint32_t unused = 0;
        return m_completion->Run(
            m_timeouts.SendBudget(),
            [&](void* handle)
            {
                return Started(WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                  size == 0 ? WINHTTP_NO_REQUEST_DATA : body.data(), size, size,
                                                  context));
            },
            unused);
    }

    HttpError Receive()
    {
        std::uint32_t unused = 0;
        return m_completion->Run(
            m_timeouts.receiveResponse, [](void* handle) { return Started(WinHttpReceiveResponse(handle, nullptr)); },
            unused);
    }

    HttpError Status(std::uint32_t& status)
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        const HttpError error = m_completion->Use(
            [&](void* handle)
            {
                return CallResult(WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                                      WINHTTP_HEADER_NAME_BY_INDEX, &value, &size,
                                                      WINHTTP_NO_HEADER_INDEX));
            });
        status = value;
        return error;
    }

    // A 401 to a request without credentials, from a server that offers the scheme of the ones set.
    bool ShouldAnswerChallenge()
    {
        std::uint32_t status = 0;
        if (m_scheme == 0 || Status(status) != kHttpOk || status != 401)
            return false;
        DWORD length = 0;
        const HttpError carried = m_completion->Use(
            [&](void* handle)
            {
                return CallResult(WinHttpQueryHeaders(
                    handle, WINHTTP_QUERY_AUTHORIZATION | WINHTTP_QUERY_FLAG_REQUEST_HEADERS,
                    WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &length, WINHTTP_NO_HEADER_INDEX));
            });
        if (carried != kHttpErrorHeaderNotFound)
            return false;
        DWORD supported = 0;
        DWORD first = 0;
        DWORD target = 0;
        const HttpError offered = m_completion->Use(
            [&](void* handle) { return CallResult(WinHttpQueryAuthSchemes(handle, &supported, &first, &target)); });
        return offered == kHttpOk && (supported & m_scheme) != 0;
    }

    HttpCompletionOwner m_completion;
    WinHttpTimeouts m_timeouts;
    std::shared_ptr<const TrustedCertificates> m_trust;
    std::string m_serverName;
    bool m_secure;
    DWORD m_securityFlags = 0;
    std::uint32_t m_scheme = 0;
    // Body bytes the stack reported available that are not read yet.
    std::uint32_t m_available = 0;
    std::wstring m_userName;
    std::wstring m_password;
    State m_state = State::Opened;
};

class WinHttpConnection final : public IWinHttpConnection
{
public:
    WinHttpConnection(HINTERNET connection, const WinHttpTimeouts& timeouts,
                      std::shared_ptr<const TrustedCertificates> trust, std::string serverName)
        : m_connection(connection), m_timeouts(timeouts), m_trust(std::move(trust)), m_serverName(std::move(serverName))
    {
    }
    ~WinHttpConnection() override { CloseUnreported(m_connection); }
    WinHttpConnection(const WinHttpConnection&) = delete;
    WinHttpConnection& operator=(const WinHttpConnection&) = delete;

    HttpError OpenRequest(const std::string& verb, const std::string& objectName, std::uint32_t flags,
                          std::shared_ptr<IWinHttpRequest>& request) override
    {
        request.reset();
        if (!IsRequestVerb(verb))
            return kHttpErrorInvalidParameter;
        const bool secure = (flags & kWinHttpFlagSecure) != 0;
        std::shared_ptr<WinHttpRequest> opened;
        try
        {
            opened = std::make_shared<WinHttpRequest>(m_timeouts, m_trust, m_serverName, secure);
        }
        catch (const std::bad_alloc&)
        {
            return kHttpErrorNotEnoughMemory;
        }
        if (!opened->IsUsable())
            return kHttpErrorNotEnoughMemory;
        const HINTERNET handle =
            WinHttpOpenRequest(m_connection, Widen(verb).c_str(), Widen(RequestTarget(objectName)).c_str(), nullptr,
                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                               flags & (kWinHttpFlagEscapeDisableQuery | kWinHttpFlagRefresh | kWinHttpFlagSecure));
        if (handle == nullptr)
            return LastHttpError();
        DWORD_PTR context = opened->Context();
        if (!WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)))
        {
            const HttpError error = LastHttpError();
            CloseUnreported(handle);
            return error;
        }
        opened->Attach(handle);
        request = std::move(opened);
        return kHttpOk;
    }

private:
    HINTERNET m_connection;
    WinHttpTimeouts m_timeouts;
    std::shared_ptr<const TrustedCertificates> m_trust;
    std::string m_serverName;
};

class WinHttpSession final : public IWinHttpSession
{
public:
    WinHttpSession(HINTERNET session, std::shared_ptr<const TrustedCertificates> trust)
        : m_session(session), m_trust(std::move(trust))
    {
    }
    ~WinHttpSession() override { CloseUnreported(m_session); }
    WinHttpSession(const WinHttpSession&) = delete;
    WinHttpSession& operator=(const WinHttpSession&) = delete;

    HttpError SetOption(WinHttpOption option, std::uint32_t value) override
    {
        const bool limit =
            option == WinHttpOption::MaxConnectionsPerServer || option == WinHttpOption::MaxConnectionsPer1_0Server;
        if (limit && value == 0)
            return kHttpErrorInvalidParameter;
        WinHttpTimeouts timeouts = m_timeouts;
        if (!limit && !timeouts.Set(option, value))
            return kHttpErrorInvalidOption;
        DWORD native = value;
        if (!WinHttpSetOption(m_session, static_cast<DWORD>(option), &native, sizeof(native)))
            return LastHttpError();
        m_timeouts = timeouts;
        return kHttpOk;
    }

    HttpError Connect(const std::string& serverName, std::uint16_t port,
                      std::unique_ptr<IWinHttpConnection>& connection) override
    {
        connection.reset();
        if (!IsServerName(serverName))
            return kHttpErrorInvalidUrl;
        const HINTERNET handle = WinHttpConnect(m_session, Widen(serverName).c_str(), port, 0);
        if (handle == nullptr)
            return LastHttpError();
        try
        {
            connection = std::make_unique<WinHttpConnection>(handle, m_timeouts, m_trust, serverName);
        }
        catch (const std::bad_alloc&)
        {
            CloseUnreported(handle);
            return kHttpErrorNotEnoughMemory;
        }
        return kHttpOk;
    }

    std::uint32_t AnswerableAuthSchemes() const override { return AnswerableSchemes(); }

private:
    HINTERNET m_session;
    std::shared_ptr<const TrustedCertificates> m_trust;
    WinHttpTimeouts m_timeouts;
    HttpSessionCount m_count;
};
}

HttpError OpenWinHttpSession(const std::string& agent, const HttpTransportSettings& settings,
                             std::unique_ptr<IWinHttpSession>& session)
{
    session.reset();
    std::shared_ptr<const TrustedCertificates> trust;
    if (!settings.trustedCertificatesFile.empty())
    {
        try
        {
            trust = std::make_shared<const TrustedCertificates>(settings.trustedCertificatesFile);
        }
        catch (const std::bad_alloc&)
        {
            return kHttpErrorNotEnoughMemory;
        }
    }
    const HINTERNET handle = ::WinHttpOpen(Widen(agent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                           WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (handle == nullptr)
        return LastHttpError();
    // Set before any connection or request is made, which all take it over.
    if (WinHttpSetStatusCallback(handle, &OnWinHttpStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK)
    {
        const HttpError error = LastHttpError();
        WinHttpCloseHandle(handle);
        return error;
    }
    try
    {
        session = std::make_unique<WinHttpSession>(handle, std::move(trust));
    }
    catch (const std::bad_alloc&)
    {
        CloseUnreported(handle);
        return kHttpErrorNotEnoughMemory;
    }
    return kHttpOk;
}
}
