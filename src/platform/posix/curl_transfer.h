// One HTTP exchange on libcurl, driven by the calling thread through the multi interface, with waits
// that a Cancel from another thread or a thread termination ends at once.
//
// Both shapes of the HTTP transport (WinHTTP and WinINet) are built on it. Termination never lands
// inside libcurl: curl_multi_poll watches the thread's termination descriptor beside the sockets, and
// the termination is thrown by the platform's own check after curl has returned.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace kestrav::platform::posix
{
// Makes sure curl_global_init ran once; false when it failed.
bool EnsureCurlInitialized();

// The kept connections of one connection object. Each idle multi handle holds its own connection
// cache; a request takes one for its life, so no cache is ever used by two threads at once, and gives
// it back with its connection still open for the next request.
class CurlConnectionPool
{
public:
    CurlConnectionPool() = default;
    ~CurlConnectionPool();
    CurlConnectionPool(const CurlConnectionPool&) = delete;
    CurlConnectionPool& operator=(const CurlConnectionPool&) = delete;

    // An idle multi handle, or a new one; null when none can be made.
    CURLM* Take();
    void Give(CURLM* multi);

private:
    // Two cover a request and the one a second thread may run beside it.
    static constexpr std::size_t kIdleLimit = 2;

    std::mutex m_mutex;
    std::vector<CURLM*> m_idle;
};

// Milliseconds; 0 waits forever.
struct CurlTimeouts
{
    std::uint32_t resolve = 0;
    std::uint32_t connect = 0;
    std::uint32_t send = 0;
    std::uint32_t receiveResponse = 0;
    std::uint32_t receive = 0;
};

struct CurlRequestSetup
{
    std::string url;
    std::string verb;
    std::string agent;
    std::vector<std::string> headers;
    std::vector<std::uint8_t> body;
    // CURLAUTH_* bits; 0 sends no credentials.
    unsigned long authMask = 0;
    std::string userName;
    std::string password;
    bool verifyPeer = true;
    bool verifyHost = true;
    bool followRedirects = false;
    std::string trustedCertificatesFile;
    CurlTimeouts timeouts;
};

class CurlTransfer
{
public:
    explicit CurlTransfer(std::shared_ptr<CurlConnectionPool> pool);
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Connects and sends the request; returns once it is on the wire.
    HttpError Start(CurlRequestSetup setup);
    // Waits for the head of the final response (after any authentication round trip).
    HttpError WaitForResponseHead();
    bool HasResponseHead() const { return m_headFinal; }

    std::uint32_t StatusCode() const { return m_status; }
    std::optional<std::uint32_t> ContentLength() const { return m_contentLength; }
    // The schemes of the WWW-Authenticate headers of the last response, lower case, in their order.
    const std::vector<std::string>& Challenges() const { return m_challenges; }

    HttpError WaitForData(std::uint32_t& available);
    HttpError Read(std::span<std::uint8_t> buffer, std::uint32_t& read);

    // Any thread.
    void Cancel();

private:
    using Clock = std::chrono::steady_clock;

    template <typename Reached> HttpError Drive(std::uint32_t timeoutMilliseconds, Reached reached);
    void Poll(int milliseconds);
    void CollectCompletion();
    HttpError CompletionError() const;
    std::size_t Buffered() const { return m_buffer.size() - m_readOffset; }
    void ResumeIfDrained();
    bool WillAnswerChallenge() const;

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    static int OnDebug(CURL* easy, curl_infotype type, char* data, std::size_t size, void* self);
    void HeaderLine(std::string_view line);

    std::shared_ptr<CurlConnectionPool> m_pool;
    CurlRequestSetup m_setup;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;

    // Guards m_multi against Cancel from another thread while the owner gives it back.
    std::mutex m_wakeMutex;
    CURLM* m_multi = nullptr;
    std::atomic<bool> m_cancelled{false};

    bool m_requestSent = false;
    bool m_authorizationSent = false;
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    HttpError m_callbackError = kHttpOk;

    // The response being received.
    bool m_headStarted = false;
    bool m_headComplete = false;
    bool m_headFinal = false;
    bool m_authorizationSentForResponse = false;
    bool m_staleChallenge = false;
    bool m_redirected = false;
    std::uint32_t m_status = 0;
    std::optional<std::uint32_t> m_contentLength;
    std::vector<std::string> m_challenges;

    std::vector<std::uint8_t> m_buffer;
    std::size_t m_readOffset = 0;
    bool m_paused = false;
};

// "scheme://host:port" for a host name or dotted address; empty when the name has characters that do
// not belong in one.
std::string UrlAuthority(bool secure, const std::string& serverName, std::uint16_t port);

// The sessions of the two shapes (curl_winhttp.cpp, curl_wininet.cpp).
std::unique_ptr<IWinHttpSession> CreateCurlWinHttpSession(const std::string& agent,
                                                          const HttpTransportSettings& settings);
std::unique_ptr<IWinInetSession> CreateCurlWinInetSession(const std::string& agent,
                                                          const HttpTransportSettings& settings);
}
