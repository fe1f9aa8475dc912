// Base64 (RFC 4648 alphabet) for Basic credentials and SDP parameter sets, and the loose hexadecimal
// decoding of SDP attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav
{
// "=" padded, no line breaks. nullopt when the text would be longer than `capacity` characters.
std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes, std::size_t capacity);

// Skips every character outside the alphabet (padding, blanks, line ends) and stops at a zero
// byte. A final group of two or three characters gives one or two bytes; a lone final character
// gives none. nullopt when more than `capacity` bytes would result.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text, std::size_t capacity);

// Two characters per byte; a character that is not a hexadecimal digit counts as 0, and a final
// single character gives a byte of its own value.
std::vector<std::uint8_t> HexDecode(std::string_view text);
}
