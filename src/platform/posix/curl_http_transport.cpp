// libcurl stands in for WinHTTP and WinINet on POSIX systems.
#include <cstdio>
#include <memory>
#include <string>

#include "platform/http_transport.h"
#include "platform/posix/curl_transfer.h"

namespace kestrav::platform
{
namespace
{
class CurlHttpTransport final : public IHttpTransport
{
public:
    explicit CurlHttpTransport(HttpTransportSettings settings) : m_settings(std::move(settings)) {}

    HttpError WinHttpOpen(const std::string& agent, std::unique_ptr<IWinHttpSession>& session) override
    {
        session.reset();
        if (!posix::EnsureCurlInitialized())
            return kHttpErrorInternal;
        session = posix::CreateCurlWinHttpSession(agent, m_settings);
        return kHttpOk;
    }

    HttpError InternetOpen(const std::string& agent, std::unique_ptr<IWinInetSession>& session) override
    {
        session.reset();
        if (!posix::EnsureCurlInitialized())
            return kHttpErrorInternal;
        session = posix::CreateCurlWinInetSession(agent, m_settings);
        return kHttpOk;
    }

    void OutputDebugText(const std::string& text) override
    {
        // The nearest thing to a debugger's output here: the process's standard error, one line.
        std::fprintf(stderr, "%s\n", text.c_str());
    }

private:
    HttpTransportSettings m_settings;
};
}

IHttpTransport& DefaultHttpTransport()
{
    // Never destroyed: a sender may still be in use by a thread that outlives static destruction.
    static IHttpTransport* const transport = new CurlHttpTransport(HttpTransportSettings{});
    return *transport;
}

std::unique_ptr<IHttpTransport> CreateHttpTransport(const HttpTransportSettings& settings)
{
    return std::make_unique<CurlHttpTransport>(settings);
}

// libcurl runs on the calling thread only: nothing reports back once a request is gone.
bool WaitForClosedHttpRequests(std::uint32_t)
{
    return true;
}

std::size_t OutstandingHttpRequests()
{
    return 0;
}
}
