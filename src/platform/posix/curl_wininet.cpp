// The WinINet-shaped stack on libcurl: credentials are given at connect and the stack answers the
// server's challenge with whichever of Basic and Digest it offers; the send returns with the
// response head.
#include <memory>
#include <string>
#include <vector>

#include "platform/http_head.h"
#include "platform/http_transport.h"
#include "platform/posix/curl_transfer.h"

namespace kestrav::platform::posix
{
namespace
{
constexpr std::uint32_t kInternetFlagSecure = 0x800000;
constexpr std::uint32_t kInternetFlagNoAutoRedirect = 0x200000;

struct WinInetSettings
{
    std::string agent;
    HttpTransportSettings transport;
    // WinINet's defaults until the session sets its own; the head is awaited with the receive time-out.
    CurlTimeouts timeouts{0, 60000, 30000, 30000, 30000};
};

struct WinInetServer
{
    std::string serverName;
    std::uint16_t port = 0;
    std::string userName;
    std::string password;
};

class CurlWinInetRequest final : public IWinInetRequest
{
public:
    CurlWinInetRequest(std::shared_ptr<CurlConnectionPool> pool, CurlRequestSetup setup)
        : m_transfer(std::move(pool)), m_setup(std::move(setup))
    {
    }

    HttpError SendRequest(std::span<const std::uint8_t> body) override
    {
        if (m_sent)
            return kHttpErrorIncorrectHandleState;
        m_sent = true;
        m_setup.body.assign(body.begin(), body.end());
        const HttpError error = m_transfer.Start(std::move(m_setup));
        if (error != kHttpOk)
            return error;
        return m_transfer.WaitForResponseHead();
    }

    HttpError QueryStatusCode(std::uint32_t& status) override
    {
        status = 0;
        if (!m_transfer.HasResponseHead())
            return kHttpErrorIncorrectHandleState;
        status = m_transfer.StatusCode();
        return kHttpOk;
    }

    HttpError QueryContentLength(std::uint32_t& length) override
    {
        length = 0;
        if (!m_transfer.HasResponseHead())
            return kHttpErrorIncorrectHandleState;
        if (!m_transfer.ContentLength())
            return kHttpErrorHeaderNotFound;
        length = *m_transfer.ContentLength();
        return kHttpOk;
    }

    HttpError QueryDataAvailable(std::uint32_t& available) override { return m_transfer.WaitForData(available); }

    HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) override
    {
        return m_transfer.Read(buffer, read);
    }

    void Cancel() override { m_transfer.Cancel(); }

private:
    CurlTransfer m_transfer;
    CurlRequestSetup m_setup;
    bool m_sent = false;
};

class CurlWinInetConnection final : public IWinInetConnection
{
public:
    CurlWinInetConnection(WinInetSettings settings, WinInetServer server)
        : m_settings(std::move(settings)), m_server(std::move(server)), m_pool(std::make_shared<CurlConnectionPool>())
    {
    }

    HttpError OpenRequest(const std::string& verb, const std::string& objectName,
                          const std::vector<std::string>& acceptTypes, std::uint32_t flags,
                          std::shared_ptr<IWinInetRequest>& request) override
    {
        request.reset();
        if (!IsRequestVerb(verb))
            return kHttpErrorInvalidParameter;
        const std::string authority =
            UrlAuthority((flags & kInternetFlagSecure) != 0, m_server.serverName, m_server.port);
        if (authority.empty())
            return kHttpErrorInvalidUrl;
        CurlRequestSetup setup;
        setup.url = authority + RequestTarget(objectName);
        setup.verb = verb;
        setup.agent = m_settings.agent;
        setup.trustedCertificatesFile = m_settings.transport.trustedCertificatesFile;
        setup.timeouts = m_settings.timeouts;
        setup.followRedirects = (flags & kInternetFlagNoAutoRedirect) == 0;
        std::string accept = "Accept:";
        for (std::size_t i = 0; i < acceptTypes.size(); ++i)
        {
            if (!IsSingleLine(acceptTypes[i]))
                return kHttpErrorInvalidParameter;
            accept += (i == 0 ? " " : ", ") + acceptTypes[i];
        }
        setup.headers.push_back(accept);
        if (!m_server.userName.empty())
        {
            // Several schemes: curl waits for the challenge and answers the one the server offers.
            setup.authMask = CURLAUTH_BASIC | CURLAUTH_DIGEST;
            setup.userName = m_server.userName;
            setup.password = m_server.password;
        }
        request = std::make_shared<CurlWinInetRequest>(m_pool, std::move(setup));
        return kHttpOk;
    }

private:
    WinInetSettings m_settings;
    WinInetServer m_server;
    std::shared_ptr<CurlConnectionPool> m_pool;
};

class CurlWinInetSession final : public IWinInetSession
{
public:
    explicit CurlWinInetSession(WinInetSettings settings) : m_settings(std::move(settings)) {}

    HttpError SetOption(WinInetOption option, std::uint32_t value) override
    {
        switch (option)
        {
        case WinInetOption::ConnectTimeout:
            m_settings.timeouts.connect = value;
            return kHttpOk;
        case WinInetOption::SendTimeout:
            m_settings.timeouts.send = value;
            return kHttpOk;
        case WinInetOption::ReceiveTimeout:
            m_settings.timeouts.receiveResponse = value;
            m_settings.timeouts.receive = value;
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
        if (UrlAuthority(false, serverName, port).empty())
            return kHttpErrorInvalidUrl;
        connection =
            std::make_unique<CurlWinInetConnection>(m_settings, WinInetServer{serverName, port, userName, password});
        return kHttpOk;
    }

private:
    WinInetSettings m_settings;
};
}

std::unique_ptr<IWinInetSession> CreateCurlWinInetSession(const std::string& agent,
                                                          const HttpTransportSettings& settings)
{
    WinInetSettings sessionSettings;
    sessionSettings.agent = agent;
    sessionSettings.transport = settings;
    return std::make_unique<CurlWinInetSession>(std::move(sessionSettings));
}
}
