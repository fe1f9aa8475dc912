// Credentials for the RTSP Authorization header: Basic, and Digest after RFC 2617 without qop.
#pragma once

#include <cstddef>
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
