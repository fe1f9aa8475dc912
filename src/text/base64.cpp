#include "text/base64.h"

#include <array>

namespace kestrav
{
namespace
{
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 0xff;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable()
{
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotInAlphabet);
    for (std::uint8_t value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(kAlphabet[value])] = value;
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecodeTable = MakeDecodeTable();

std::uint8_t HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return static_cast<std::uint8_t>(digit - '0');
    if (digit >= 'a' && digit <= 'f')
        return static_cast<std::uint8_t>(digit - 'a' + 10);
    if (digit >= 'A' && digit <= 'F')
        return static_cast<std::uint8_t>(digit - 'A' + 10);
    return 0;
}
}

std::optional<std::string> Base64Encode(std::span<const std::uint8_t> bytes, std::size_t capacity)
{
    const std::size_t groups = bytes.size() / 3 + (bytes.size() % 3 != 0 ? 1 : 0);
    if (groups > capacity / 4)
        return std::nullopt;

    std::string text;
    text.reserve(groups * 4);
    std::size_t offset = 0;
    for (; bytes.size() - offset >= 3; offset += 3)
    {
        const std::uint32_t triple = static_cast<std::uint32_t>(bytes[offset]) << 16 |
                                     static_cast<std::uint32_t>(bytes[offset + 1]) << 8 | bytes[offset + 2];
        text += kAlphabet[(triple >> 18) & 0x3f];
        text += kAlphabet[(triple >> 12) & 0x3f];
        text += kAlphabet[(triple >> 6) & 0x3f];
        text += kAlphabet[triple & 0x3f];
    }
    const std::size_t rest = bytes.size() - offset;
    if (rest > 0)
    {
        std::uint32_t triple = static_cast<std::uint32_t>(bytes[offset]) << 16;
        if (rest == 2)
            triple |= static_cast<std::uint32_t>(bytes[offset + 1]) << 8;
        text += kAlphabet[(triple >> 18) & 0x3f];
        text += kAlphabet[(triple >> 12) & 0x3f];
        text += rest == 2 ? kAlphabet[(triple >> 6) & 0x3f] : '=';
        text += '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text, std::size_t capacity)
{
    // Count first so that a text beyond the capacity allocates nothing.
    std::size_t characters = 0;
    for (const char character : text)
    {
        if (character == '\0')
            break;
        if (kDecodeTable[static_cast<unsigned char>(character)] != kNotInAlphabet)
            ++characters;
    }
    const std::size_t size = characters / 4 * 3 + (characters % 4 == 0 ? 0 : characters % 4 - 1);
    if (size > capacity)
        return std::nullopt;

    std::vector<std::uint8_t> bytes;
    bytes.reserve(size);
    std::uint32_t bits = 0;
    std::size_t pending = 0;
    for (const char character : text)
    {
        if (character == '\0')
            break;
        const std::uint8_t value = kDecodeTable[static_cast<unsigned char>(character)];
        if (value == kNotInAlphabet)
            continue;
        bits = bits << 6 | value;
        if (++pending == 4)
        {
            bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
            bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
            bytes.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            pending = 0;
        }
    }
    // Two characters carry 12 bits (one whole byte), three carry 18 (two bytes).
    if (pending >= 2)
    {
        bits <<= 6 * (4 - pending);
        bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
        if (pending == 3)
            bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return bytes;
}

std::vector<std::uint8_t> HexDecode(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2 + text.size() % 2);
    std::size_t offset = 0;
    for (; text.size() - offset >= 2; offset += 2)
        bytes.push_back(static_cast<std::uint8_t>(HexValue(text[offset]) * 16 + HexValue(text[offset + 1])));
    if (offset < text.size())
        bytes.push_back(HexValue(text[offset]));
    return bytes;
}
}
