// One HTTP request as the senders take it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Web
{
enum class HttpAuthScheme : std::int32_t
{
    Basic = 0,
    NTLM = 1,
    Passport = 2,
    Digest = 3,
    Negotiate = 4,
    // No credentials go with the request.
    None = 5,
};

// Option flags of a request.
constexpr std::uint32_t kHttpDisableQueryEscaping = 0x1;
// Only for secure requests: an unknown authority, a wrong usage, name or date do not fail it.
constexpr std::uint32_t kHttpIgnoreCertificateErrors = 0x2;
constexpr std::uint32_t kHttpDisableRedirects = 0x4;
// Send only; the response head is not awaited.
constexpr std::uint32_t kHttpNoWaitForResponse = 0x8;

struct HttpRequest
{
    HttpRequest() = default;
    HttpRequest(std::string verbText, std::string path) : verb(std::move(verbText)), urlPath(std::move(path)) {}

    std::string verb;
    // The object name with its query, for example a CGI path.
    std::string urlPath;
    // 1 HTTPS, 0 HTTP.
    std::int32_t secure = 0;
    HttpAuthScheme authScheme = HttpAuthScheme::Basic;
    std::vector<std::uint8_t> body;
    // The length announced is the larger of this and the body's size.
    std::uint32_t totalLength = 0;
    // Complete header lines.
    std::vector<std::string> extraHeaders;
    std::uint32_t optionFlags = kHttpDisableQueryEscaping | kHttpDisableRedirects;
};
}
