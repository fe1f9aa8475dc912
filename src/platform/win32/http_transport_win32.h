// The sessions of the two Windows stacks (winhttp_transport.cpp, wininet_transport.cpp).
#pragma once

#include <memory>
#include <string>

#include "platform/http_transport.h"

namespace kestrav::platform::win32
{
HttpError OpenWinHttpSession(const std::string& agent, const HttpTransportSettings& settings,
                             std::unique_ptr<IWinHttpSession>& session);
HttpError OpenWinInetSession(const std::string& agent, const HttpTransportSettings& settings,
                             std::unique_ptr<IWinInetSession>& session);
}
