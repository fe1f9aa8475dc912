#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/text_utils.h"

namespace kestrav
{
namespace
{
using Fields = std::vector<std::string>;

TEST(TrimBlanks, RemovesBlanksAndTabsAtBothEndsOnly)
{
    EXPECT_EQ(TrimBlanks("\t  "), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks(" \ta b\t "), "a b");
    EXPECT_EQ(TrimBlanks("x"), "x");
    EXPECT_EQ(TrimBlanks("\r\nx\r\n"), "\r\nx\r\n") << "line ends are not blanks";
}

TEST(RemoveChars, RemovesEveryOccurrenceOfEachCharacter)
{
    EXPECT_EQ(RemoveChars("00:1A-2b:3C", ":-"), "001A2b3C");
    EXPECT_EQ(RemoveChars("\"cam\"", "\""), "cam");
    EXPECT_EQ(RemoveChars("Motion Detect\t=\t1", " \t"), "MotionDetect=1");
    EXPECT_EQ(RemoveChars("abc", ""), "abc");
    EXPECT_EQ(RemoveChars("::", ":"), "");
}

TEST(SplitText, KeepsInnerEmptyFieldsButNotATrailingOne)
{
    EXPECT_EQ(SplitText("a,,b,", ','), (Fields{"a", "", "b"}));
    EXPECT_EQ(SplitText("a,b,,", ','), (Fields{"a", "b", ""}));
    EXPECT_EQ(SplitText(",a", ','), (Fields{"", "a"}));
    EXPECT_EQ(SplitText(",", ','), (Fields{""}));
    EXPECT_EQ(SplitText("abc", ','), (Fields{"abc"}));
    EXPECT_EQ(SplitText("", ','), Fields{});
}

TEST(CaseCopies, MapOnlyAsciiLetters)
{
    EXPECT_EQ(ToLowerCopy("RTSP/1.0 200 OK"), "rtsp/1.0 200 ok");
    EXPECT_EQ(ToUpperCopy("h264 main@L4.1"), "H264 MAIN@L4.1");
    EXPECT_EQ(ToLowerCopy("\xC4\xD6"), "\xC4\xD6");
    EXPECT_EQ(ToUpperCopy("\xE4\xF6"), "\xE4\xF6");
}

TEST(ParseStrictInt, AcceptsASignAndDigitsOnly)
{
    EXPECT_EQ(ParseStrictInt("-12"), -12);
    EXPECT_EQ(ParseStrictInt("+7"), 7);
    EXPECT_EQ(ParseStrictInt("0"), 0);
    EXPECT_EQ(ParseStrictInt("007"), 7);
    for (const char* bad : {"", "-", "+", "1a", " 1", "1 ", "--1", "+-1", "1.0", "0x10", "\xd9\xa3"})
        EXPECT_FALSE(ParseStrictInt(bad)) << '"' << bad << '"';
}

TEST(ParseStrictInt, RejectsValuesBeyondThe32BitRange)
{
    EXPECT_EQ(ParseStrictInt("2147483647"), 2147483647);
    EXPECT_EQ(ParseStrictInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseStrictInt("+0000000000000000002147483647"), 2147483647) << "leading zeros do not count";
    for (const char* bad : {"2147483648", "-2147483649", "4294967296", "4294967297", "99999999999999999999999"})
        EXPECT_FALSE(ParseStrictInt(bad)) << bad;
}

TEST(ParseStrictIntOrZero, GivesZeroOnFailure)
{
    EXPECT_EQ(ParseStrictIntOrZero("-5"), -5);
    EXPECT_EQ(ParseStrictIntOrZero("5x"), 0);
    EXPECT_EQ(ParseStrictIntOrZero("2147483648"), 0);
}

TEST(FormatText, FormatsTextsOfAnyLength)
{
    EXPECT_EQ(FormatText("%s:%u", "cam", 554u), "cam:554");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string longText(70000, 'x');
    EXPECT_EQ(FormatText("<%s>", longText.c_str()), "<" + longText + ">");
}

std::array<std::uint8_t, 4> BytesInMemory(std::uint32_t networkOrder)
{
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &networkOrder, bytes.size());
    return bytes;
}

TEST(ResolveIPv4, GivesDottedAddressesInNetworkByteOrder)
{
    EXPECT_EQ(BytesInMemory(ResolveIPv4("127.0.0.1")), (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(BytesInMemory(ResolveIPv4("192.168.0.90")), (std::array<std::uint8_t, 4>{192, 168, 0, 90}));
}

TEST(ResolveIPv4, ResolvesLocalhost)
{
    EXPECT_EQ(BytesInMemory(ResolveIPv4("localhost"))[0], 127);
}

TEST(ResolveIPv4, GivesZeroForNoAddress)
{
    EXPECT_EQ(ResolveIPv4(""), 0u);
    // ".invalid" never resolves (RFC 6761); without network the resolver fails at once.
    EXPECT_EQ(ResolveIPv4("no.such.host.invalid"), 0u);
    EXPECT_EQ(ResolveIPv4(std::string("127.0.0.1\0evil", 14)), 0u) << "a name cut short by a zero byte";
}
}
}
