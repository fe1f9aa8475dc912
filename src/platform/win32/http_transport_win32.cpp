// The real WinHTTP and WinINet behind the transport (winhttp.dll, wininet.dll).
// winsock2.h before windows.h, as every Windows header of the platform layer has it.
#include <winsock2.h>

#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "platform/http_transport.h"
#include "platform/win32/http_transport_win32.h"

namespace kestrav::platform
{
namespace
{
class Win32HttpTransport final : public IHttpTransport
{
public:
    explicit Win32HttpTransport(HttpTransportSettings settings) : m_settings(std::move(settings)) {}

    HttpError WinHttpOpen(const std::string& agent, std::unique_ptr<IWinHttpSession>& session) override
    {
        return win32::OpenWinHttpSession(agent, m_settings, session);
    }

    HttpError InternetOpen(const std::string& agent, std::unique_ptr<IWinInetSession>& session) override
    {
        return win32::OpenWinInetSession(agent, m_settings, session);
    }

    void OutputDebugText(const std::string& text) override
    {
        // The bytes as they are: the module's texts are ASCII.
        try
        {
            const std::string line = text + "\n";
            OutputDebugStringA(line.c_str());
        }
        catch (const std::bad_alloc&)
        {
            OutputDebugStringA(text.c_str());
        }
    }

private:
    HttpTransportSettings m_settings;
};
}

IHttpTransport& DefaultHttpTransport()
{
    // Never destroyed: a sender may still be in use by a thread that outlives static destruction.
    static IHttpTransport* const transport = new Win32HttpTransport(HttpTransportSettings{});
    return *transport;
}

std::unique_ptr<IHttpTransport> CreateHttpTransport(const HttpTransportSettings& settings)
{
    return std::make_unique<Win32HttpTransport>(settings);
}
}
