#include "http/abortable_http_transport.h"

#include <utility>

namespace kestrav
{
namespace
{
using platform::HttpError;

class AbortableConnection final : public platform::IWinHttpConnection
{
public:
    AbortableConnection(std::unique_ptr<platform::IWinHttpConnection> inner, const CAbortableHttpTransport& owner)
        : m_inner(std::move(inner)), m_owner(owner)
    {
    }
    HttpError OpenRequest(const std::string& verb, const std::string& objectName, std::uint32_t flags,
                          std::shared_ptr<platform::IWinHttpRequest>& request) override
    {
        if (m_owner.IsAborted())
            return platform::kHttpErrorOperationCancelled;
        return m_inner->OpenRequest(verb, objectName, flags, request);
    }

private:
    std::unique_ptr<platform::IWinHttpConnection> m_inner;
    const CAbortableHttpTransport& m_owner;
};

class AbortableSession final : public platform::IWinHttpSession
{
public:
    AbortableSession(std::unique_ptr<platform::IWinHttpSession> inner, const CAbortableHttpTransport& owner)
        : m_inner(std::move(inner)), m_owner(owner)
    {
    }
    HttpError SetOption(platform::WinHttpOption option, std::uint32_t value) override
    {
        return m_inner->SetOption(option, value);
    }
    HttpError Connect(const std::string& serverName, std::uint16_t port,
                      std::unique_ptr<platform::IWinHttpConnection>& connection) override
    {
        std::unique_ptr<platform::IWinHttpConnection> inner;
        const HttpError error = m_inner->Connect(serverName, port, inner);
        if (error == platform::kHttpOk && inner)
            connection = std::make_unique<AbortableConnection>(std::move(inner), m_owner);
        return error;
    }
    std::uint32_t AnswerableAuthSchemes() const override { return m_inner->AnswerableAuthSchemes(); }

private:
    std::unique_ptr<platform::IWinHttpSession> m_inner;
    const CAbortableHttpTransport& m_owner;
};
}

HttpError CAbortableHttpTransport::WinHttpOpen(const std::string& agent,
                                               std::unique_ptr<platform::IWinHttpSession>& session)
{
    std::unique_ptr<platform::IWinHttpSession> inner;
    const HttpError error = m_inner.WinHttpOpen(agent, inner);
    if (error == platform::kHttpOk && inner)
        session = std::make_unique<AbortableSession>(std::move(inner), *this);
    return error;
}

HttpError CAbortableHttpTransport::InternetOpen(const std::string& agent,
                                                std::unique_ptr<platform::IWinInetSession>& session)
{
    // Not used by the sender of the camera properties; passed through.
    return m_inner.InternetOpen(agent, session);
}
}
