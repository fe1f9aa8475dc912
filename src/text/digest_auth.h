// Credentials for the RTSP Authorization header: Basic, and Digest after RFC 2617 with or without qop=auth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrav
{
// Longest "user:password" text that Basic credentials are built from; longer ones give no credentials.
constexpr std::size_t kBasicCredentialsMaxLength = 72;

// The Base64 text of "user:password", or nullopt when that text is longer than kBasicCredentialsMaxLength.
std::optional<std::string> BasicCredentials(std::string_view userName, std::string_view password);

// MD5(MD5(user:realm:password) ":" nonce ":" MD5(method:uri)) in lower-case hexadecimal.
std::string DigestResponse(std::string_view userName, std::string_view realm, std::string_view password,
                           std::string_view method, std::string_view uri, std::string_view nonce);

// The whole "Authorization: Digest ...\r\n" line with the response computed from the arguments: username,
// realm, nonce, uri and response only (the RFC 2069 form); no algorithm, qop, nc, cnonce or opaque.
std::string DigestAuthorizationLine(std::string_view userName, std::string_view realm, std::string_view password,
                                    std::string_view method, std::string_view uri, std::string_view nonce);
}

namespace kestrav
{
// The fields a challenge offering qop "auth" asks each answer to add.
struct DigestQopAuth
{
    std::uint32_t nonceCount = 1; // requests signed with this nonce so far, this one included
    std::string_view clientNonce;
};

// MD5(MD5(user:realm:password) ":" nonce ":" nc ":" cnonce ":auth:" MD5(method:uri)), nc as 8 hex digits.
std::string DigestQopResponse(std::string_view userName, std::string_view realm, std::string_view password,
                              std::string_view method, std::string_view uri, std::string_view nonce,
                              const DigestQopAuth& qop);

// The Authorization line for a challenge: without `qop` the form above; with it the qop=auth form
// ("qop=auth, nc=00000001, cnonce=..."). A non-empty `opaque` is echoed in either form.
std::string DigestAuthorizationLine(std::string_view userName, std::string_view realm, std::string_view password,
                                    std::string_view method, std::string_view uri, std::string_view nonce,
                                    std::string_view opaque, const std::optional<DigestQopAuth>& qop);
}
