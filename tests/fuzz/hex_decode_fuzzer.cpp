// HexDecode on any text (SDP profile-level-id comes from the camera), checked against re-encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/base64.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool IsHexDigit(char character)
{
    return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'f') ||
           (character >= 'A' && character <= 'F');
}

// The text as HexDecode reads it: digits in lower case, anything else "0", a last single digit as a whole byte.
std::string Normalized(std::string_view text)
{
    std::string normalized;
    for (const char character : text)
    {
        if (!IsHexDigit(character))
            normalized += '0';
        else
            normalized += static_cast<char>(character >= 'A' && character <= 'F' ? character - 'A' + 'a' : character);
    }
    if (normalized.size() % 2 != 0)
        normalized.insert(normalized.size() - 1, 1, '0');
    return normalized;
}

std::string LowerHex(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : bytes)
    {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0f];
    }
    return hex;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> decoded = kestrav::HexDecode(text);
    Check(decoded.size() == (size + 1) / 2);
    Check(LowerHex(decoded) == Normalized(text));

    // Any bytes written as hexadecimal come back.
    const std::vector<std::uint8_t> input(data, data + size);
    Check(kestrav::HexDecode(LowerHex(input)) == input);
    return 0;
}
