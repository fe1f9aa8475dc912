#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "text/base64.h"

namespace kestrav
{
namespace
{
using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

std::optional<std::string> Encode(std::string_view text, std::size_t capacity = 1000)
{
    return Base64Encode(BytesOf(text), capacity);
}

TEST(Base64Encode, PadsTheLastGroup)
{
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("a"), "YQ==");
    EXPECT_EQ(Encode("ab"), "YWI=");
    EXPECT_EQ(Encode("abc"), "YWJj");
    EXPECT_EQ(Encode("abcd"), "YWJjZA==");
    EXPECT_EQ(Base64Encode(Bytes{0xfb, 0xff, 0xbf}, 4), "+/+/") << "the last two letters of the alphabet";
}

TEST(Base64Encode, FailsWhenTheTextDoesNotFit)
{
    EXPECT_EQ(Encode("abcd", 8), "YWJjZA==");
    EXPECT_FALSE(Encode("abcd", 7));
    EXPECT_FALSE(Encode("a", 3));
    EXPECT_FALSE(Encode("a", 0));
    EXPECT_EQ(Encode("", 0), "");
}

TEST(Base64Decode, SkipsEverythingOutsideTheAlphabet)
{
    const Bytes abc = BytesOf("abc");
    EXPECT_EQ(Base64Decode("YWJj", 256), abc);
    EXPECT_EQ(Base64Decode("YW Jj", 256), abc);
    EXPECT_EQ(Base64Decode("YWJj====", 256), abc);
    EXPECT_EQ(Base64Decode("\tY\r\nW-J.j\n", 256), abc);
}

TEST(Base64Decode, TurnsAnIncompleteLastGroupIntoTheWholeBytesItHolds)
{
    EXPECT_EQ(Base64Decode("YQ", 256), BytesOf("a"));
    EXPECT_EQ(Base64Decode("YWI", 256), BytesOf("ab"));
    EXPECT_EQ(Base64Decode("YWJjZ", 256), BytesOf("abc")) << "a lone sixth of a byte gives nothing";
    EXPECT_EQ(Base64Decode("", 256), Bytes{});
}

TEST(Base64Decode, StopsAtAZeroByte)
{
    using namespace std::string_view_literals;
    EXPECT_EQ(Base64Decode("YWJj\0ZGVm"sv, 256), BytesOf("abc"));
}

TEST(Base64Decode, FailsBeyondTheCapacity)
{
    // 85 whole groups (255 bytes) and a last group of three characters (two bytes, "AA"): 257 bytes.
    const std::string text = std::string(340, 'A') + "QUE=";
    EXPECT_FALSE(Base64Decode(text, 256));
    const auto bytes = Base64Decode(text, 257);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 257u);
    EXPECT_EQ(bytes->back(), 'A');
}

TEST(Base64, RoundTripsAnyBytesOfEveryLength)
{
    std::mt19937 random(20240611);
    for (std::size_t length = 0; length <= 300; ++length)
    {
        Bytes bytes(length);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        const std::size_t encodedLength = (length + 2) / 3 * 4;

        const auto text = Base64Encode(bytes, encodedLength);
        ASSERT_TRUE(text) << length;
        EXPECT_EQ(text->size(), encodedLength);
        EXPECT_EQ(Base64Decode(*text, length), bytes) << length;
        if (length > 0)
        {
            EXPECT_FALSE(Base64Encode(bytes, encodedLength - 1)) << length;
            EXPECT_FALSE(Base64Decode(*text, length - 1)) << length;
        }
    }
}

TEST(HexDecode, ReadsPairsAndALastSingleDigit)
{
    EXPECT_EQ(HexDecode("0A1"), (Bytes{0x0a, 0x01}));
    EXPECT_EQ(HexDecode("00ff7Fa0"), (Bytes{0x00, 0xff, 0x7f, 0xa0}));
    EXPECT_EQ(HexDecode("42e01f"), (Bytes{0x42, 0xe0, 0x1f})) << "an H.264 profile-level-id";
    EXPECT_EQ(HexDecode(""), Bytes{});
}

TEST(HexDecode, CountsOtherCharactersAsZero)
{
    EXPECT_EQ(HexDecode("zz"), Bytes{0x00});
    EXPECT_EQ(HexDecode("g1f"), (Bytes{0x01, 0x0f}));
    EXPECT_EQ(HexDecode("\xff\x80"), Bytes{0x00});
}
}
}
