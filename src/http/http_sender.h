// The sender over the platform's WinHTTP-shaped stack, used by the camera properties, the video and
// motion channels and the digital IO.
//
// It learns two things about its camera and keeps them for its life: whether it answers over HTTPS or
// HTTP (a request that fails short of an answer is tried once with the other), and which authentication
// scheme to answer it with. No password leaves before the camera asks for one: the first request goes
// without credentials, and its 401 names the scheme, which answers that request once more and every
// request from then on.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "http/http_base_sender.h"
#include "platform/http_transport.h"

namespace Web
{
class CHttpSender : public CBaseHttpSender
{
public:
    explicit CHttpSender(const kestrav::DEVICE_INFO& device,
                         kestrav::platform::IHttpTransport& transport = kestrav::platform::DefaultHttpTransport());
    ~CHttpSender() override;

    bool SendRequest(const HttpRequest& request) override;
    // Also keeps a SendRequest under way from trying the other of HTTP and HTTPS.
    void CloseRequest() override;
    std::uint32_t QueryDataAvailable() override;
    std::uint32_t ReadAll(std::vector<std::uint8_t>& body) override;
    std::uint32_t Read(std::vector<std::uint8_t>& bytes, std::uint32_t count, bool clearFirst) override;

    static constexpr const char* kAgent = "Kestrav::HttpSender";
    // The port on which a camera is first asked over HTTPS.
    static constexpr std::uint16_t kHttpsPort = 443;

private:
    enum class Attempt
    {
        Failed,   // no use trying otherwise
        TryOther, // HTTPS instead of HTTP or the other way round may work
        Done,
    };

    // SendRequest without clearing the cancel flag, for the repeat after a 401.
    bool Send(const HttpRequest& request);
    Attempt RunAttempt(const HttpRequest& request);
    std::shared_ptr<kestrav::platform::IWinHttpRequest> CurrentRequest();
    // False, with the request left out, once CloseRequest has been called.
    bool MakeCurrent(const std::shared_ptr<kestrav::platform::IWinHttpRequest>& request);
    // Dropped by the sending thread itself: no cancel flag.
    void DropCurrentRequest();

    // The scheme to learn from a 401: the server's preferred one when the stack can answer it, else
    // the strongest of the others it can; 0 when it can answer none.
    std::uint32_t ChooseAuthScheme(kestrav::platform::IWinHttpRequest& request) const;

    std::unique_ptr<kestrav::platform::IWinHttpSession> m_session;
    std::unique_ptr<kestrav::platform::IWinHttpConnection> m_connect;
    // Guards m_request, which CloseRequest takes away from any thread; a call on the request holds a
    // reference of its own, so closing never frees what a blocked call uses.
    std::mutex m_requestMutex;
    std::shared_ptr<kestrav::platform::IWinHttpRequest> m_request;
    // WinHTTP scheme bit; 0 until a server's challenge named one the stack can answer.
    std::uint32_t m_authScheme = 0;
    std::int32_t m_secure;
    std::atomic<bool> m_cancelled{false};
};
}
