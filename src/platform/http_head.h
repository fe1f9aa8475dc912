// The pieces of an HTTP request and response head that every HTTP stack of the platform layer checks
// or reads the same way, whatever the stack underneath. Plain text work, no OS calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrav::platform
{
// A method token: not empty, without white space or a line break.
bool IsRequestVerb(std::string_view verb);
// Text that stays one header line: no line break and no NUL inside.
bool IsSingleLine(std::string_view text);
// The request target of a path: a leading "/", and the bytes a request line cannot carry escaped.
std::string RequestTarget(std::string_view objectName);
// A host name or dotted address, nothing that could carry a user, a path or another host.
bool IsServerName(std::string_view serverName);

// The name of a "Name: value" line; empty when the line is not one.
std::string_view HeaderName(std::string_view line);
// Header names compare without regard to ASCII case.
bool SameHeaderName(std::string_view a, std::string_view b);
// The three digits after the version of a status line ("HTTP/1.1 200 OK"); 0 when they are not there.
std::uint32_t ParseStatusCode(std::string_view statusLine);
// A Content-Length value: digits only (blanks around them allowed) and within 32 bits; anything else
// counts as no length at all.
std::optional<std::uint32_t> ParseContentLength(std::string_view text);
}
