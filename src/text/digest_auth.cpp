#include "text/digest_auth.h"

#include <cstdint>
#include <initializer_list>
#include <span>

#include "text/base64.h"
#include "text/md5.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
// Room for the Base64 text of the longest credentials (96 characters).
constexpr std::size_t kBasicEncodedCapacity = 100;

std::string ColonJoined(std::initializer_list<std::string_view> parts)
{
    std::string text;
    bool first = true;
    for (const std::string_view part : parts)
    {
        if (!first)
            text += ':';
        text += part;
        first = false;
    }
    return text;
}
}

std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password)
{
    const std::string joined = ColonJoined({userName, password});
    if (joined.size() > kBasicCredentialsMaxLength)
        return std::nullopt;
    return Base64Encode(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(joined.data()), joined.size()),
        kBasicEncodedCapacity);
}

std::string DigestResponse(std::string_view userName, std::string_view realm, std::string_view password,
                           std::string_view method, std::string_view uri, std::string_view nonce)
{
    const std::string ha1 = Md5Hex(ColonJoined({userName, realm, password}));
    const std::string ha2 = Md5Hex(ColonJoined({method, uri}));
    return Md5Hex(ColonJoined({ha1, nonce, ha2}));
}

std::string DigestAuthorizationLine(std::string_view userName, std::string_view realm, std::string_view password,
                                    std::string_view method, std::string_view uri, std::string_view nonce)
{
    return DigestAuthorizationLine(userName, realm, password, method, uri, nonce, {}, std::nullopt);
}

std::string DigestQopResponse(std::string_view userName, std::string_view realm, std::string_view password,
                              std::string_view method, std::string_view uri, std::string_view nonce,
                              const DigestQopAuth& qop)
{
    const std::string ha1 = Md5Hex(ColonJoined({userName, realm, password}));
    const std::string ha2 = Md5Hex(ColonJoined({method, uri}));
    const std::string nonceCount = FormatText("%08x", qop.nonceCount);
    return Md5Hex(ColonJoined({ha1, nonce, nonceCount, qop.clientNonce, "auth", ha2}));
}

std::string DigestAuthorizationLine(std::string_view userName, std::string_view realm, std::string_view password,
                                    std::string_view method, std::string_view uri, std::string_view nonce,
                                    std::string_view opaque, const std::optional<DigestQopAuth>& qop)
{
    const std::string response = qop ? DigestQopResponse(userName, realm, password, method, uri, nonce, *qop)
                                     : DigestResponse(userName, realm, password, method, uri, nonce);
    std::string line = "Authorization: Digest username=\"";
    line.append(userName).append("\", realm=\"");
    line.append(realm).append("\", nonce=\"");
    line.append(nonce).append("\", uri=\"");
    line.append(uri).append("\", response=\"");
    line.append(response).append("\"");
    if (qop)
    {
        line.append(", qop=auth, nc=").append(FormatText("%08x", qop->nonceCount));
        line.append(", cnonce=\"").append(qop->clientNonce).append("\"");
    }
    if (!opaque.empty())
        line.append(", opaque=\"").append(opaque).append("\"");
    return line + "\r\n";
}
}
