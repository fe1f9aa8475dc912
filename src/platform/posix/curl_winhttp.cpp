// The WinHTTP-shaped stack on libcurl: the session keeps the time-outs, the connection keeps the
// server and its open connections, a request carries its own credentials and options.
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_head.h"
#include "platform/http_transport.h"
#include "platform/posix/curl_transfer.h"

namespace kestrav::platform::posix
{
namespace
{
struct WinHttpSettings
{
    std::string agent;
    HttpTransportSettings transport;
    // WinHTTP's defaults until the session sets its own.
    CurlTimeouts timeouts{0, 60000, 30000, 90000, 30000};
};

bool SetTimeout(CurlTimeouts& timeouts, WinHttpOption option, std::uint32_t value)
{
    switch (option)
    {
    case WinHttpOption::ResolveTimeout:
        timeouts.resolve = value;
        return true;
    case WinHttpOption::ConnectTimeout:
        timeouts.connect = value;
        return true;
    case WinHttpOption::SendTimeout:
        timeouts.send = value;
        return true;
    case WinHttpOption::ReceiveTimeout:
        timeouts.receive = value;
        return true;
    case WinHttpOption::ReceiveResponseTimeout:
        timeouts.receiveResponse = value;
        return true;
    default:
        return false;
    }
}

class CurlWinHttpRequest final : public IWinHttpRequest
{
public:
    CurlWinHttpRequest(const WinHttpSettings& settings, std::shared_ptr<CurlConnectionPool> pool, std::string url,
                       const std::string& verb, std::uint32_t flags)
        : m_transfer(std::move(pool))
    {
        m_setup.url = std::move(url);
        m_setup.verb = verb;
        m_setup.agent = settings.agent;
        m_setup.trustedCertificatesFile = settings.transport.trustedCertificatesFile;
        m_setup.timeouts = settings.timeouts;
        m_setup.followRedirects = true;
        // No accept types were given: curl's "Accept: */*" is left out.
        m_setup.headers.push_back("Accept:");
        if ((flags & kWinHttpFlagRefresh) != 0)
        {
            m_setup.headers.push_back("Pragma: no-cache");
            m_setup.headers.push_back("Cache-Control: no-cache");
        }
    }

    HttpError SetCredentials(std::uint32_t target, std::uint32_t scheme, const std::string& userName,
                             const std::string& password) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (target != kWinHttpAuthTargetServer)
            return kHttpErrorInvalidParameter;
        // Cameras speak Basic and Digest. The other schemes are refused rather than attempted:
        // Negotiate would call into the system's Kerberos libraries, whose waits nothing here can end.
        if (scheme == kWinHttpAuthBasic)
            m_setup.authMask = CURLAUTH_BASIC;
        else if (scheme == kWinHttpAuthDigest)
            m_setup.authMask = CURLAUTH_DIGEST;
        else
            return kHttpErrorInvalidParameter;
        m_setup.userName = userName;
        m_setup.password = password;
        return kHttpOk;
    }

    HttpError SetOption(WinHttpOption option, std::uint32_t value) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (option == WinHttpOption::SecurityFlags)
        {
            if ((value & (kWinHttpSecurityIgnoreUnknownCa | kWinHttpSecurityIgnoreWrongUsage |
                          kWinHttpSecurityIgnoreCertDateInvalid)) != 0)
                m_setup.verifyPeer = false;
            if ((value & kWinHttpSecurityIgnoreCertCnInvalid) != 0)
                m_setup.verifyHost = false;
            return kHttpOk;
        }
        if (option == WinHttpOption::DisableFeature)
        {
            if ((value & kWinHttpDisableRedirects) != 0)
                m_setup.followRedirects = false;
            return kHttpOk;
        }
        return SetTimeout(m_setup.timeouts, option, value) ? kHttpOk : kHttpErrorInvalidOption;
    }

    HttpError AddRequestHeaders(const std::string& line, std::uint32_t modifiers) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        // A line break inside would let the caller's text add headers of its own.
        const std::string_view name = HeaderName(line);
        if (name.empty() || !IsSingleLine(line))
            return kHttpErrorInvalidParameter;
        if ((modifiers & kWinHttpAddHeaderReplace) != 0)
        {
            std::erase_if(m_setup.headers,
                          [&](const std::string& existing) { return SameHeaderName(HeaderName(existing), name); });
        }
        m_setup.headers.push_back(line);
        return kHttpOk;
    }

    HttpError SendRequest(std::span<const std::uint8_t> body, std::uint32_t totalLength) override
    {
        if (m_state != State::Opened)
            return kHttpErrorIncorrectHandleState;
        if (totalLength > body.size())
            return kHttpErrorInvalidParameter;
        m_setup.body.assign(body.begin(), body.end());
        m_state = State::Sent;
        return m_transfer.Start(std::move(m_setup));
    }

    HttpError ReceiveResponse() override
    {
        if (m_state != State::Sent)
            return kHttpErrorIncorrectHandleState;
        const HttpError error = m_transfer.WaitForResponseHead();
        if (error == kHttpOk)
            m_state = State::Received;
        return error;
    }

    HttpError QueryStatusCode(std::uint32_t& status) override
    {
        status = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        status = m_transfer.StatusCode();
        return kHttpOk;
    }

    HttpError QueryContentLength(std::uint32_t& length) override
    {
        length = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        if (!m_transfer.ContentLength())
            return kHttpErrorHeaderNotFound;
        length = *m_transfer.ContentLength();
        return kHttpOk;
    }

    HttpError QueryAuthSchemes(std::uint32_t& supported, std::uint32_t& first, std::uint32_t& target) override
    {
        supported = 0;
        first = 0;
        target = kWinHttpAuthTargetServer;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        for (const std::string& scheme : m_transfer.Challenges())
        {
            std::uint32_t bit = 0;
            if (scheme == "basic")
                bit = kWinHttpAuthBasic;
            else if (scheme == "ntlm")
                bit = kWinHttpAuthNtlm;
            else if (scheme == "passport1.4")
                bit = kWinHttpAuthPassport;
            else if (scheme == "digest")
                bit = kWinHttpAuthDigest;
            else if (scheme == "negotiate")
                bit = kWinHttpAuthNegotiate;
            if (bit != 0 && first == 0)
                first = bit;
            supported |= bit;
        }
        return first == 0 ? kHttpErrorHeaderNotFound : kHttpOk;
    }

    HttpError QueryDataAvailable(std::uint32_t& available) override
    {
        available = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        return m_transfer.WaitForData(available);
    }

    HttpError ReadData(std::span<std::uint8_t> buffer, std::uint32_t& read) override
    {
        read = 0;
        if (m_state != State::Received)
            return kHttpErrorIncorrectHandleState;
        return m_transfer.Read(buffer, read);
    }

    void Cancel() override { m_transfer.Cancel(); }

private:
    enum class State
    {
        Opened,
        Sent,
        Received,
    };

    CurlTransfer m_transfer;
    CurlRequestSetup m_setup;
    State m_state = State::Opened;
};

class CurlWinHttpConnection final : public IWinHttpConnection
{
public:
    CurlWinHttpConnection(WinHttpSettings settings, std::string serverName, std::uint16_t port)
        : m_settings(std::move(settings)), m_serverName(std::move(serverName)), m_port(port),
          m_pool(std::make_shared<CurlConnectionPool>())
    {
    }

    HttpError OpenRequest(const std::string& verb, const std::string& objectName, std::uint32_t flags,
                          std::shared_ptr<IWinHttpRequest>& request) override
    {
        request.reset();
        if (!IsRequestVerb(verb))
            return kHttpErrorInvalidParameter;
        const std::string authority = UrlAuthority((flags & kWinHttpFlagSecure) != 0, m_serverName, m_port);
        if (authority.empty())
            return kHttpErrorInvalidUrl;
        request = std::make_shared<CurlWinHttpRequest>(m_settings, m_pool, authority + RequestTarget(objectName), verb,
                                                       flags);
        return kHttpOk;
    }

private:
    WinHttpSettings m_settings;
    std::string m_serverName;
    std::uint16_t m_port;
    // Shared with the requests, which give their connection back to it even after this object is gone.
    std::shared_ptr<CurlConnectionPool> m_pool;
};

class CurlWinHttpSession final : public IWinHttpSession
{
public:
    explicit CurlWinHttpSession(WinHttpSettings settings) : m_settings(std::move(settings)) {}

    HttpError SetOption(WinHttpOption option, std::uint32_t value) override
    {
        // Each request holds a connection cache of its own (CurlConnectionPool), so these limits have
        // nothing to limit; they are accepted as WinHTTP accepts them.
        if (option == WinHttpOption::MaxConnectionsPerServer || option == WinHttpOption::MaxConnectionsPer1_0Server)
            return value == 0 ? kHttpErrorInvalidParameter : kHttpOk;
        return SetTimeout(m_settings.timeouts, option, value) ? kHttpOk : kHttpErrorInvalidOption;
    }

    HttpError Connect(const std::string& serverName, std::uint16_t port,
                      std::unique_ptr<IWinHttpConnection>& connection) override
    {
        connection.reset();
        if (UrlAuthority(false, serverName, port).empty())
            return kHttpErrorInvalidUrl;
        connection = std::make_unique<CurlWinHttpConnection>(m_settings, serverName, port);
        return kHttpOk;
    }

    // See SetCredentials.
    std::uint32_t AnswerableAuthSchemes() const override { return kWinHttpAuthBasic | kWinHttpAuthDigest; }

private:
    WinHttpSettings m_settings;
};
}

std::unique_ptr<IWinHttpSession> CreateCurlWinHttpSession(const std::string& agent,
                                                          const HttpTransportSettings& settings)
{
    WinHttpSettings sessionSettings;
    sessionSettings.agent = agent;
    sessionSettings.transport = settings;
    return std::make_unique<CurlWinHttpSession>(std::move(sessionSettings));
}
}
