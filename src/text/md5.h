// MD5 (RFC 1321). Digest authentication needs it and nothing else, so it is our own small copy.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrav
{
using Md5Digest = std::array<std::uint8_t, 16>;

Md5Digest Md5(std::span<const std::uint8_t> bytes);

// The digest of the text's bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);
}
