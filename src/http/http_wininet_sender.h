// The sender over the platform's WinINet-shaped stack, used by the PTZ commands: the credentials go to
// the stack at connect, and the stack answers the camera's challenge itself.
//
// Its lock guards only the request handle; two threads that share the sender must still take turns
// with whole requests, since a request replaces the other's status and current request.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "http/http_base_sender.h"
#include "platform/http_transport.h"
#include "runtime/recursive_lock.h"

namespace Web
{
class CWinInetSender : public CBaseHttpSender
{
public:
    explicit CWinInetSender(const kestrav::DEVICE_INFO& device,
                            kestrav::platform::IHttpTransport& transport = kestrav::platform::DefaultHttpTransport());
    ~CWinInetSender() override;

    bool SendRequest(const HttpRequest& request) override;
    void CloseRequest() override;
    std::uint32_t QueryDataAvailable() override;
    std::uint32_t ReadAll(std::vector<std::uint8_t>& body) override;
    std::uint32_t Read(std::vector<std::uint8_t>& bytes, std::uint32_t count, bool clearFirst) override;

    static constexpr const char* kAgent = "Kestrav::WinInetSender";

private:
    void Initialize(kestrav::platform::IHttpTransport& transport);
    std::shared_ptr<kestrav::platform::IWinInetRequest> CurrentRequest();

    kestrav::CRecursiveLock m_lock;
    std::unique_ptr<kestrav::platform::IWinInetSession> m_session;
    // Made by the first request, under the lock.
    std::unique_ptr<kestrav::platform::IWinInetConnection> m_connect;
    std::shared_ptr<kestrav::platform::IWinInetRequest> m_request;
};
}
