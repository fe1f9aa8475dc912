// Text helpers with which RTSP responses, SDP lines and CGI answers are taken apart. Byte strings
// throughout; letter case is plain ASCII, as in the C locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/format_string.h"

namespace kestrav
{
// Without leading and trailing blanks and tabs.
std::string TrimBlanks(std::string_view text);

// The value of `key` in a body of "key<separator>value" entries ended by any of the `terminators`
// characters: the text after the separator up to the next terminator, untrimmed. Only an entry whose
// name, trimmed, is exactly the key counts; an entry with an empty value is passed over. Empty when
// nothing is found or any of key, separator and terminators is empty.
std::string FindKeyValue(std::string_view key, std::string_view separator, std::string_view text,
                         std::string_view terminators);

// The value found by FindKeyValue as a strict decimal integer (ParseStrictInt); 0 when empty or not a number.
std::int32_t FindKeyValueNumber(std::string_view key, std::string_view separator, std::string_view text,
                                std::string_view terminators);

// Without any of `characters`.
std::string RemoveChars(std::string_view text, std::string_view characters);

// The fields between delimiters; neighbouring delimiters give an empty field, a delimiter at the very
// end gives no empty last field, and an empty text gives no fields.
std::vector<std::string> SplitText(std::string_view text, char delimiter);

std::string ToLowerCopy(std::string_view text);
std::string ToUpperCopy(std::string_view text);

// An optional "+" or "-" followed by decimal digits only, within the signed 32-bit range; nullopt otherwise.
std::optional<std::int32_t> ParseStrictInt(std::string_view text);
// ParseStrictInt, or 0 when it fails.
std::int32_t ParseStrictIntOrZero(std::string_view text);

// printf into a text of any length.
inline constexpr auto& FormatText = FormatString;

// The first IPv4 address of the host name or dotted address, in network byte order; 0 when it cannot be
// resolved or the name is empty.
std::uint32_t ResolveIPv4(const std::string& host);
}
