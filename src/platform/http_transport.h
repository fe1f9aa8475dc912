// The platform's two HTTP stacks, as the senders use them.
//
// One is shaped like WinHTTP (a session with its time-outs, a connection to one server, requests that
// carry their own credentials and options, the response head received in a step of its own), the
// other like WinINet (credentials given at connect, authentication challenges answered by the stack,
// the response head received with the send). Calls return kHttpOk or the error number the Windows
// stack would report, so that the senders above read the same on every platform.
//
// Blocking calls wait at most the time-out set on the session and are termination points on module
// threads (thread.h). A request may be cancelled from any thread: the call blocked in it returns at
// once with kHttpErrorOperationCancelled, and so does every later call. Apart from Cancel, one request
// is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrav::platform
{
using HttpError = std::uint32_t;

inline constexpr HttpError kHttpOk = 0;
inline constexpr HttpError kHttpErrorNotEnoughMemory = 8;           // ERROR_NOT_ENOUGH_MEMORY
inline constexpr HttpError kHttpErrorInvalidParameter = 87;         // ERROR_INVALID_PARAMETER
inline constexpr HttpError kHttpErrorTimeout = 12002;               // ERROR_WINHTTP_TIMEOUT
inline constexpr HttpError kHttpErrorInternal = 12004;              // ERROR_WINHTTP_INTERNAL_ERROR
inline constexpr HttpError kHttpErrorInvalidUrl = 12005;            // ERROR_WINHTTP_INVALID_URL
inline constexpr HttpError kHttpErrorNameNotResolved = 12007;       // ERROR_WINHTTP_NAME_NOT_RESOLVED
inline constexpr HttpError kHttpErrorInvalidOption = 12009;         // ERROR_WINHTTP_INVALID_OPTION
inline constexpr HttpError kHttpErrorOperationCancelled = 12017;    // ERROR_WINHTTP_OPERATION_CANCELLED
inline constexpr HttpError kHttpErrorIncorrectHandleState = 12019;  // ERROR_WINHTTP_INCORRECT_HANDLE_STATE
inline constexpr HttpError kHttpErrorCannotConnect = 12029;         // ERROR_WINHTTP_CANNOT_CONNECT
inline constexpr HttpError kHttpErrorConnectionError = 12030;       // ERROR_WINHTTP_CONNECTION_ERROR
inline constexpr HttpError kHttpErrorHeaderNotFound = 12150;        // ERROR_WINHTTP_HEADER_NOT_FOUND
inline constexpr HttpError kHttpErrorInvalidServerResponse = 12152; // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
inline constexpr HttpError kHttpErrorSecureFailure = 12175;         // ERROR_WINHTTP_SECURE_FAILURE

// ---------------------------------------------------------------------------------------------------
// Body reading, the same on both stacks.
// ---------------------------------------------------------------------------------------------------
class IHttpResponseReader
{
public:
    virtual ~IHttpResponseReader() = default;

    // Waits up to the receive time-out until body bytes are there; `available` is how many can be read
    // without waiting, 0 at the end of the body.
    virtual HttpError QueryDataAvailable(std::uint32_t& available) = 0;
    // Waits like QueryDataAvailable, then copies what is there, at most the buffer's size; `read` is 0
    // at the end of the body.
    virtual HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) = 0;
    // Closing the handle from another thread. Any thread.
    virtual void Cancel() = 0;
};

// ---------------------------------------------------------------------------------------------------
// WinHTTP-shaped.
// ---------------------------------------------------------------------------------------------------
enum class WinHttpOption : std::uint32_t
{
    ResolveTimeout = 2,
    ConnectTimeout = 3,
    SendTimeout = 5,
    ReceiveTimeout = 6,
    ReceiveResponseTimeout = 7,
    SecurityFlags = 31,  // request only
    DisableFeature = 63, // request only
    MaxConnectionsPerServer = 73,
    MaxConnectionsPer1_0Server = 74,
};

// OpenRequest flags.
inline constexpr std::uint32_t kWinHttpFlagEscapeDisableQuery = 0x80;
inline constexpr std::uint32_t kWinHttpFlagRefresh = 0x100;
inline constexpr std::uint32_t kWinHttpFlagSecure = 0x800000;

// SecurityFlags values.
inline constexpr std::uint32_t kWinHttpSecurityIgnoreUnknownCa = 0x100;
inline constexpr std::uint32_t kWinHttpSecurityIgnoreWrongUsage = 0x200;
inline constexpr std::uint32_t kWinHttpSecurityIgnoreCertCnInvalid = 0x1000;
inline constexpr std::uint32_t kWinHttpSecurityIgnoreCertDateInvalid = 0x2000;

// DisableFeature value.
inline constexpr std::uint32_t kWinHttpDisableRedirects = 2;

// AddRequestHeaders modifiers.
inline constexpr std::uint32_t kWinHttpAddHeaderAdd = 0x20000000;
inline constexpr std::uint32_t kWinHttpAddHeaderReplace = 0x80000000;

// Authentication scheme bits and the server target.
inline constexpr std::uint32_t kWinHttpAuthBasic = 1;
inline constexpr std::uint32_t kWinHttpAuthNtlm = 2;
inline constexpr std::uint32_t kWinHttpAuthPassport = 4;
inline constexpr std::uint32_t kWinHttpAuthDigest = 8;
inline constexpr std::uint32_t kWinHttpAuthNegotiate = 16;
inline constexpr std::uint32_t kWinHttpAuthTargetServer = 0;

class IWinHttpRequest : public IHttpResponseReader
{
public:
    // Credentials for the server's challenge; Basic ones go with the first request. Only the schemes of
    // the session's AnswerableAuthSchemes are accepted.
    virtual HttpError SetCredentials(std::uint32_t target, std::uint32_t scheme, const std::string& userName,
                                     const std::string& password) = 0;
    virtual HttpError SetOption(WinHttpOption option, std::uint32_t value) = 0;
    // One complete header line, without its line end.
    virtual HttpError AddRequestHeaders(const std::string& line, std::uint32_t modifiers) = 0;
    // Connects when needed and sends the request line, the headers and the body. `totalLength` is the
    // length announced; this transport sends only whole bodies, so it must not exceed the body's size.
    virtual HttpError SendRequest(std::span<const std::uint8_t> body, std::uint32_t totalLength) = 0;
    // Waits for the response head, answering an authentication challenge with the credentials set.
    virtual HttpError ReceiveResponse() = 0;
    virtual HttpError QueryStatusCode(std::uint32_t& status) = 0;
    // kHttpErrorHeaderNotFound when the response announced no length (or one that is not a number).
    virtual HttpError QueryContentLength(std::uint32_t& length) = 0;
    // The schemes the server offered in its last answer, and the first (preferred) one;
    // kHttpErrorHeaderNotFound when it offered none this stack knows.
    virtual HttpError QueryAuthSchemes(std::uint32_t& supported, std::uint32_t& first, std::uint32_t& target) = 0;
};

class IWinHttpConnection
{
public:
    virtual ~IWinHttpConnection() = default;
    // `objectName` is the path with its query.
    virtual HttpError OpenRequest(const std::string& verb, const std::string& objectName, std::uint32_t flags,
                                  std::shared_ptr<IWinHttpRequest>& request) = 0;
};

class IWinHttpSession
{
public:
    virtual ~IWinHttpSession() = default;
    // Time-outs in milliseconds (0 waits forever) and connection limits, for requests opened afterwards.
    virtual HttpError SetOption(WinHttpOption option, std::uint32_t value) = 0;
    // Connections to the server are kept and reused by the requests of the returned object.
    virtual HttpError Connect(const std::string& serverName, std::uint16_t port,
                              std::unique_ptr<IWinHttpConnection>& connection) = 0;
    // The authentication scheme bits whose challenges this stack can answer (SetCredentials accepts
    // them); a server may offer others first.
    virtual std::uint32_t AnswerableAuthSchemes() const = 0;
};

// ---------------------------------------------------------------------------------------------------
// WinINet-shaped.
// ---------------------------------------------------------------------------------------------------
enum class WinInetOption : std::uint32_t
{
    ConnectTimeout = 2,
    SendTimeout = 5,
    ReceiveTimeout = 6,
};

inline constexpr std::uint32_t kInternetServiceHttp = 3;
inline constexpr std::uint32_t kInternetFlagKeepConnection = 0x400000;
inline constexpr std::uint32_t kInternetFlagNoCacheWrite = 0x4000000;

class IWinInetRequest : public IHttpResponseReader
{
public:
    // Sends the request and receives the response head, answering an authentication challenge with the
    // credentials given at connect.
    virtual HttpError SendRequest(std::span<const std::uint8_t> body) = 0;
    virtual HttpError QueryStatusCode(std::uint32_t& status) = 0;
    // kHttpErrorHeaderNotFound when the response announced no length.
    virtual HttpError QueryContentLength(std::uint32_t& length) = 0;
};

class IWinInetConnection
{
public:
    virtual ~IWinInetConnection() = default;
    virtual HttpError OpenRequest(const std::string& verb, const std::string& objectName,
                                  const std::vector<std::string>& acceptTypes, std::uint32_t flags,
                                  std::shared_ptr<IWinInetRequest>& request) = 0;
};

class IWinInetSession
{
public:
    virtual ~IWinInetSession() = default;
    virtual HttpError SetOption(WinInetOption option, std::uint32_t value) = 0;
    virtual HttpError Connect(const std::string& serverName, std::uint16_t port, const std::string& userName,
                              const std::string& password, std::uint32_t service,
                              std::unique_ptr<IWinInetConnection>& connection) = 0;
};

// ---------------------------------------------------------------------------------------------------
// The stacks.
// ---------------------------------------------------------------------------------------------------
class IHttpTransport
{
public:
    virtual ~IHttpTransport() = default;
    // No proxy, synchronous calls.
    virtual HttpError WinHttpOpen(const std::string& agent, std::unique_ptr<IWinHttpSession>& session) = 0;
    // Direct access, no proxy.
    virtual HttpError InternetOpen(const std::string& agent, std::unique_ptr<IWinInetSession>& session) = 0;
    // A line for an attached debugger (Windows' OutputDebugString); never the host's log.
    virtual void OutputDebugText(const std::string& text) = 0;
};

struct HttpTransportSettings
{
    // PEM certificates trusted for HTTPS instead of the system's store; empty for the system's.
    std::string trustedCertificatesFile;
};

// The platform's stacks as every sender uses them by default; they live as long as the process.
IHttpTransport& DefaultHttpTransport();

// Stacks of their own settings; they must outlive every session opened on them.
std::unique_ptr<IHttpTransport> CreateHttpTransport(const HttpTransportSettings& settings);

// The module's way out. A Windows stack reports a closed request's handle a little later, from a thread
// of its own, into this module's code, which must still be loaded then. Waits up to `limitMilliseconds`
// until no request is left that a stack may still report; false when some are left at the limit. While
// a session is open the module is still in use, and it returns true at once.
bool WaitForClosedHttpRequests(std::uint32_t limitMilliseconds);
// The requests a stack may still report into this module; 0 where the stacks never call back.
std::size_t OutstandingHttpRequests();
inline constexpr std::uint32_t kHttpClosingWaitMilliseconds = 2000;
}
