#include "platform/posix/curl_transfer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/http_head.h"
#include "platform/posix/wait_context.h"

namespace kestrav::platform::posix
{
namespace
{
// The response body waits here for the reader; above this much the transfer is paused, so a camera
// that pushes faster than the module reads fills the socket buffers, not the host's memory.
constexpr std::size_t kPauseAbove = 256 * 1024;
constexpr std::size_t kResumeBelow = 64 * 1024;
constexpr std::size_t kCompactAbove = 64 * 1024;
// The longest single wait; curl shortens it for its own timers, a Cancel or a termination ends it.
constexpr int kLongestPollMilliseconds = 30000;
// Enough for every scheme a camera offers; the rest of a hostile list is dropped.
constexpr std::size_t kMaximumChallenges = 16;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ContainsNoCase(std::string_view text, std::string_view part)
{
    const auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                                   [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
    return found != text.end();
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

unsigned long CurlSchemeBit(std::string_view scheme)
{
    if (scheme == "basic")
        return CURLAUTH_BASIC;
    if (scheme == "digest")
        return CURLAUTH_DIGEST;
    return 0;
}
}

bool EnsureCurlInitialized()
{
    // Thread-safe in this libcurl (its "threadsafe" feature); done once and never undone, because the
    // host may load and unload the module while other libraries of the process use libcurl too.
    static const bool initialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialized;
}

CurlConnectionPool::~CurlConnectionPool()
{
    for (CURLM* multi : m_idle)
        curl_multi_cleanup(multi);
}

CURLM* CurlConnectionPool::Take()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_idle.empty())
        {
            CURLM* multi = m_idle.back();
            m_idle.pop_back();
            return multi;
        }
    }
    return curl_multi_init();
}

void CurlConnectionPool::Give(CURLM* multi)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_idle.size() < kIdleLimit)
        {
            try
            {
                m_idle.push_back(multi);
                return;
            }
            catch (const std::bad_alloc&)
            {
            }
        }
    }
    curl_multi_cleanup(multi);
}

CurlTransfer::CurlTransfer(std::shared_ptr<CurlConnectionPool> pool) : m_pool(std::move(pool)) {}

CurlTransfer::~CurlTransfer()
{
    CURLM* multi = nullptr;
    {
        std::lock_guard lock(m_wakeMutex);
        multi = m_multi;
        m_multi = nullptr;
    }
    // A transfer that did not end closes its connection here; a finished one left it in the cache.
    if (multi != nullptr && m_easy != nullptr)
        curl_multi_remove_handle(multi, m_easy);
    if (m_easy != nullptr)
        curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
    if (multi != nullptr)
        m_pool->Give(multi);
}

void CurlTransfer::Cancel()
{
    std::lock_guard lock(m_wakeMutex);
    m_cancelled = true;
    if (m_multi != nullptr)
        curl_multi_wakeup(m_multi);
}

HttpError CurlTransfer::Start(CurlRequestSetup setup)
{
    if (m_easy != nullptr)
        return kHttpErrorIncorrectHandleState;
    if (m_cancelled)
        return kHttpErrorOperationCancelled;
    m_setup = std::move(setup);
    m_easy = curl_easy_init();
    if (m_easy == nullptr)
        return kHttpErrorNotEnoughMemory;

    bool failed = false;
    const auto check = [&failed](CURLcode code) { failed = failed || code != CURLE_OK; };
    check(curl_easy_setopt(m_easy, CURLOPT_URL, m_setup.url.c_str()));
    check(curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    check(curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    // No signals in the host's process; no wait for a resolver thread when the request is closed.
    check(curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L));
    check(curl_easy_setopt(m_easy, CURLOPT_QUICK_EXIT, 1L));
    check(curl_easy_setopt(m_easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    // The path goes out as the caller wrote it, "/../" included, as the Windows stacks send it.
    check(curl_easy_setopt(m_easy, CURLOPT_PATH_AS_IS, 1L));
    check(curl_easy_setopt(m_easy, CURLOPT_USERAGENT, m_setup.agent.c_str()));
    // The alarm stream stays open for minutes without traffic; keep-alive probes find a dead camera.
    check(curl_easy_setopt(m_easy, CURLOPT_TCP_KEEPALIVE, 1L));
    if (m_setup.verb == "GET")
        check(curl_easy_setopt(m_easy, CURLOPT_HTTPGET, 1L));
    else if (m_setup.verb == "HEAD")
        check(curl_easy_setopt(m_easy, CURLOPT_NOBODY, 1L));
    else
    {
        if (!m_setup.body.empty())
        {
            check(curl_easy_setopt(m_easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_setup.body.size())));
            check(curl_easy_setopt(m_easy, CURLOPT_POSTFIELDS, m_setup.body.data()));
        }
        check(curl_easy_setopt(m_easy, CURLOPT_CUSTOMREQUEST, m_setup.verb.c_str()));
    }
    for (const std::string& header : m_setup.headers)
    {
        curl_slist* extended = curl_slist_append(m_headers, header.c_str());
        if (extended == nullptr)
            return kHttpErrorNotEnoughMemory;
        m_headers = extended;
    }
    check(curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers));
    if (m_setup.authMask != 0)
    {
        check(curl_easy_setopt(m_easy, CURLOPT_HTTPAUTH, m_setup.authMask));
        check(curl_easy_setopt(m_easy, CURLOPT_USERNAME, m_setup.userName.c_str()));
        check(curl_easy_setopt(m_easy, CURLOPT_PASSWORD, m_setup.password.c_str()));
    }
    check(curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYPEER, m_setup.verifyPeer ? 1L : 0L));
    check(curl_easy_setopt(m_easy, CURLOPT_SSL_VERIFYHOST, m_setup.verifyHost ? 2L : 0L));
    if (!m_setup.trustedCertificatesFile.empty())
        check(curl_easy_setopt(m_easy, CURLOPT_CAINFO, m_setup.trustedCertificatesFile.c_str()));
    if (m_setup.followRedirects)
    {
        check(curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L));
        check(curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, 10L));
    }
    // curl bounds the name look-up and the connection together.
    const std::uint64_t connectBudget =
        m_setup.timeouts.connect == 0 ? 0 : std::uint64_t{m_setup.timeouts.resolve} + m_setup.timeouts.connect;
    // 0 would mean curl's own default of 300 s; a wait without end is the loop's to bound.
    check(curl_easy_setopt(
        m_easy, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(connectBudget == 0 ? 0x7FFFFFFF : std::min<std::uint64_t>(connectBudget, 0x7FFFFFFF))));
    check(curl_easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader));
    check(curl_easy_setopt(m_easy, CURLOPT_HEADERDATA, this));
    check(curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody));
    check(curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this));
    // The debug callback is how the request is seen leaving (and whether it carried credentials).
    check(curl_easy_setopt(m_easy, CURLOPT_DEBUGFUNCTION, &CurlTransfer::OnDebug));
    check(curl_easy_setopt(m_easy, CURLOPT_DEBUGDATA, this));
    check(curl_easy_setopt(m_easy, CURLOPT_VERBOSE, 1L));
    if (failed)
        return kHttpErrorInternal;

    CURLM* multi = m_pool->Take();
    if (multi == nullptr)
        return kHttpErrorNotEnoughMemory;
    {
        std::lock_guard lock(m_wakeMutex);
        m_multi = multi;
    }
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK)
    {
        std::lock_guard lock(m_wakeMutex);
        m_multi = nullptr;
        m_pool->Give(multi);
        return kHttpErrorInternal;
    }

    const std::uint64_t sendBudget =
        connectBudget == 0 || m_setup.timeouts.send == 0 ? 0 : connectBudget + m_setup.timeouts.send;
    const HttpError error = Drive(static_cast<std::uint32_t>(std::min<std::uint64_t>(sendBudget, 0xFFFFFFFEu)),
                                  [this] { return m_requestSent || m_headStarted; });
    if (error != kHttpOk)
        return error;
    // What goes wrong once the request is out belongs to the wait for the answer.
    if (m_done && !m_requestSent && !m_headStarted)
        return m_result == CURLE_OK ? kHttpErrorInvalidServerResponse : CompletionError();
    return kHttpOk;
}

HttpError CurlTransfer::WaitForResponseHead()
{
    if (m_multi == nullptr)
        return kHttpErrorIncorrectHandleState;
    const HttpError error = Drive(m_setup.timeouts.receiveResponse, [this] { return m_headFinal; });
    if (error != kHttpOk)
        return error;
    if (m_headFinal)
        return kHttpOk;
    // The transfer ended with the head of an answer that looked like a challenge but was not taken up.
    if (m_result == CURLE_OK && m_headComplete)
    {
        m_headFinal = true;
        return kHttpOk;
    }
    return m_result == CURLE_OK ? kHttpErrorInvalidServerResponse : CompletionError();
}

HttpError CurlTransfer::WaitForData(std::uint32_t& available)
{
    available = 0;
    if (m_multi == nullptr || !m_headFinal)
        return kHttpErrorIncorrectHandleState;
    if (Buffered() == 0)
    {
        const HttpError error = Drive(m_setup.timeouts.receive, [this] { return Buffered() > 0; });
        if (error != kHttpOk)
            return error;
    }
    else if (m_cancelled)
        return kHttpErrorOperationCancelled;
    if (Buffered() > 0)
    {
        available = static_cast<std::uint32_t>(std::min<std::size_t>(Buffered(), 0xFFFFFFFFu));
        return kHttpOk;
    }
    // The end of the body: a clean one, or a connection lost before the body was whole.
    return m_result == CURLE_OK ? kHttpOk : CompletionError();
}

HttpError CurlTransfer::Read(std::span<std::uint8_t> buffer, std::uint32_t& read)
{
    read = 0;
    std::uint32_t available = 0;
    const HttpError error = WaitForData(available);
    if (error != kHttpOk)
        return error;
    const std::size_t count = std::min<std::size_t>({buffer.size(), available, 0xFFFFFFFFu});
    if (count == 0)
        return kHttpOk;
    std::memcpy(buffer.data(), m_buffer.data() + m_readOffset, count);
    m_readOffset += count;
    if (m_readOffset == m_buffer.size())
    {
        m_buffer.clear();
        m_readOffset = 0;
    }
    else if (m_readOffset > kCompactAbove)
    {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_readOffset));
        m_readOffset = 0;
    }
    read = static_cast<std::uint32_t>(count);
    ResumeIfDrained();
    return kHttpOk;
}

void CurlTransfer::ResumeIfDrained()
{
    if (!m_paused || Buffered() >= kResumeBelow)
        return;
    m_paused = false;
    // May hand the held-back bytes to OnBody at once, which may pause again.
    curl_easy_pause(m_easy, CURLPAUSE_CONT);
}

template <typename Reached> HttpError CurlTransfer::Drive(std::uint32_t timeoutMilliseconds, Reached reached)
{
    const bool forever = timeoutMilliseconds == 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (;;)
    {
        if (m_cancelled)
            return kHttpErrorOperationCancelled;
        int running = 0;
        if (curl_multi_perform(m_multi, &running) != CURLM_OK)
            return kHttpErrorInternal;
        CollectCompletion();
        if (m_callbackError != kHttpOk)
            return m_callbackError;
        if (reached() || m_done)
            return kHttpOk;
        int wait = kLongestPollMilliseconds;
        if (!forever)
        {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return kHttpErrorTimeout;
            wait = static_cast<int>(std::min<long long>(left, wait));
        }
        Poll(wait);
    }
}

void CurlTransfer::Poll(int milliseconds)
{
    // Throws ThreadTerminated on a terminated module thread: here, outside every libcurl call.
    const int wake = TerminationWakeDescriptor();
    if (wake == kTerminationWakeUnavailable)
        milliseconds = std::min(milliseconds, static_cast<int>(kTerminationPollSliceMilliseconds));
    curl_waitfd extra{};
    extra.fd = wake;
    extra.events = CURL_WAIT_POLLIN;
    // Cancel's curl_multi_wakeup ends this wait too.
    curl_multi_poll(m_multi, wake >= 0 ? &extra : nullptr, wake >= 0 ? 1u : 0u, milliseconds, nullptr);
}

void CurlTransfer::CollectCompletion()
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left))
    {
        if (message->msg == CURLMSG_DONE && message->easy_handle == m_easy)
        {
            m_done = true;
            m_result = message->data.result;
        }
    }
}

HttpError CurlTransfer::CompletionError() const
{
    switch (m_result)
    {
    case CURLE_OK:
        return kHttpOk;
    case CURLE_OPERATION_TIMEDOUT:
        return kHttpErrorTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
        return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kHttpErrorCannotConnect;
    case CURLE_URL_MALFORMAT:
        return kHttpErrorInvalidUrl;
    case CURLE_OUT_OF_MEMORY:
        return kHttpErrorNotEnoughMemory;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
        return kHttpErrorSecureFailure;
    // The URLs are always http or https: curl says this of an answer without an HTTP status line
    // (it refuses HTTP/0.9), which is what WinHTTP calls an invalid server response.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_TOO_MANY_REDIRECTS:
        return kHttpErrorInvalidServerResponse;
    default:
        return kHttpErrorConnectionError;
    }
}

bool CurlTransfer::WillAnswerChallenge() const
{
    unsigned long offered = 0;
    for (const std::string& scheme : m_challenges)
        offered |= CurlSchemeBit(scheme);
    if ((offered & m_setup.authMask) == 0)
        return false;
    // Digest cannot go with the first request, so curl answers the challenge once; Basic went along
    // already and is not repeated. A stale nonce is answered once more.
    if (!m_authorizationSentForResponse)
        return true;
    return m_staleChallenge && (m_setup.authMask & CURLAUTH_DIGEST) != 0;
}

void CurlTransfer::HeaderLine(std::string_view line)
{
    if (line.starts_with("HTTP/"))
    {
        // Each response of an exchange (a 100, a challenge, the answer) starts afresh.
        m_headStarted = true;
        m_headComplete = false;
        m_headFinal = false;
        m_status = ParseStatusCode(line);
        m_contentLength.reset();
        m_challenges.clear();
        m_staleChallenge = false;
        m_redirected = false;
        m_authorizationSentForResponse = m_authorizationSent;
        return;
    }
    // Trailers of a chunked body, or lines before any status line.
    if (!m_headStarted || m_headComplete)
        return;
    if (line == "\r\n" || line == "\n")
    {
        m_headComplete = true;
        // curl goes on by itself after these; should it not, the body or the end of the transfer makes
        // the head final after all.
        const bool informational = m_status / 100 == 1;
        const bool followed = m_status / 100 == 3 && m_redirected && m_setup.followRedirects;
        m_headFinal = !informational && !followed && !(m_status == 401 && WillAnswerChallenge());
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (SameHeaderName(name, "content-length"))
        m_contentLength = ParseContentLength(value);
    else if (SameHeaderName(name, "location"))
        m_redirected = !value.empty();
    else if (SameHeaderName(name, "www-authenticate") && m_challenges.size() < kMaximumChallenges)
    {
        const std::string_view scheme = value.substr(0, std::min(value.find_first_of(" ,"), value.size()));
        std::string lowered(scheme.substr(0, 32));
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), LowerAscii);
        if (lowered == "digest" && (ContainsNoCase(value, "stale=true") || ContainsNoCase(value, "stale=\"true\"")))
            m_staleChallenge = true;
        m_challenges.push_back(std::move(lowered));
    }
}

std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self)
{
    const std::size_t bytes = size * count;
    try
    {
        static_cast<CurlTransfer*>(self)->HeaderLine(std::string_view(data, bytes));
    }
    catch (const std::bad_alloc&)
    {
        static_cast<CurlTransfer*>(self)->m_callbackError = kHttpErrorNotEnoughMemory;
        return 0;
    }
    return bytes;
}

std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* transfer = static_cast<CurlTransfer*>(self);
    const std::size_t bytes = size * count;
    // Body bytes belong to the answer itself, never to a challenge curl takes up.
    if (transfer->m_headStarted)
    {
        transfer->m_headComplete = true;
        transfer->m_headFinal = true;
    }
    if (transfer->Buffered() >= kPauseAbove)
    {
        transfer->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    try
    {
        transfer->m_buffer.insert(transfer->m_buffer.end(), data, data + bytes);
    }
    catch (const std::bad_alloc&)
    {
        transfer->m_callbackError = kHttpErrorNotEnoughMemory;
        return 0;
    }
    return bytes;
}

int CurlTransfer::OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self)
{
    if (type != CURLINFO_HEADER_OUT)
        return 0;
    auto* transfer = static_cast<CurlTransfer*>(self);
    const std::string_view headers(data, size);
    const bool credentials = ContainsNoCase(headers, "\nAuthorization:");
    // A head sent in pieces reports each piece; only the first one starts a new request.
    if (headers.starts_with(transfer->m_setup.verb + " "))
        transfer->m_authorizationSent = credentials;
    else
        transfer->m_authorizationSent = transfer->m_authorizationSent || credentials;
    transfer->m_requestSent = true;
    return 0;
}

std::string UrlAuthority(bool secure, const std::string& serverName, std::uint16_t port)
{
    // Anything but a host name or a dotted address could smuggle a user, path or other host into the URL.
    if (!IsServerName(serverName))
        return {};
    return std::string(secure ? "https://" : "http://") + serverName + ":" + std::to_string(port);
}
}
