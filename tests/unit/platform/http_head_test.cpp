// The request and response head pieces every HTTP stack of the platform layer shares.
#include "platform/http_head.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestrav::platform
{
namespace
{
TEST(HttpHead, ContentLengthIsDigitsWithin32BitsOrNoLengthAtAll)
{
    const struct
    {
        const char* text;
        std::optional<std::uint32_t> length;
    } cases[] = {
        {"0", 0u},
        {" \t1234 ", 1234u},
        {"4294967295", 0xFFFFFFFFu},
        {"4294967296", std::nullopt},  // one past 32 bits
        {"00000000001", std::nullopt}, // longer than any 32-bit number
        {"", std::nullopt},
        {"-1", std::nullopt},
        {"+12", std::nullopt},
        {"12 34", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseContentLength(c.text), c.length) << '"' << c.text << '"';
}

TEST(HttpHead, StatusCodeIsTheThreeDigitsAfterTheVersion)
{
    const struct
    {
        const char* line;
        std::uint32_t status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n", 200}, {"HTTP/1.0 401", 401}, {"HTTP/1.1 20", 0},
        {"HTTP/1.1 2x0 OK", 0},       {"HTTP/1.1", 0},       {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseStatusCode(c.line), c.status) << '"' << c.line << '"';
}

TEST(HttpHead, RequestTargetsAreOriginFormWithWhatALineCannotCarryEscaped)
{
    EXPECT_EQ(RequestTarget(""), "/");
    EXPECT_EQ(RequestTarget("server?a=1&b=2"), "/server?a=1&b=2");
    EXPECT_EQ(RequestTarget("/a b\r\n"), "/a%20b%0D%0A");
    EXPECT_EQ(RequestTarget("/q?x=\"<{|}>\"#"), "/q?x=%22%3C%7B%7C%7D%3E%22%23");
    EXPECT_EQ(RequestTarget(std::string("/\x7F\x80\xFF", 4)), "/%7F%80%FF");
}

TEST(HttpHead, NamesAndLinesCarryNothingBeyondThemselves)
{
    EXPECT_TRUE(IsServerName("cam-1.example_net"));
    EXPECT_TRUE(IsServerName("192.168.0.10"));
    for (const char* name : {"", "admin@cam", "cam/path", "cam:80", "cam host", "[::1]"})
        EXPECT_FALSE(IsServerName(name)) << name;
    EXPECT_FALSE(IsServerName(std::string(254, 'a')));

    EXPECT_EQ(HeaderName("X-Token: a:b"), "X-Token");
    EXPECT_EQ(HeaderName(": value"), "");
    EXPECT_EQ(HeaderName("Bad Name: value"), "");
    EXPECT_EQ(HeaderName("no colon"), "");
    EXPECT_TRUE(SameHeaderName("Content-Length", "content-LENGTH"));
    EXPECT_FALSE(SameHeaderName("Content-Length", "Content-Lengths"));

    EXPECT_TRUE(IsSingleLine("Accept: */*"));
    EXPECT_FALSE(IsSingleLine("A: b\r\nC: d"));
    EXPECT_FALSE(IsSingleLine(std::string("A: b\0c", 6)));
    EXPECT_TRUE(IsRequestVerb("GET"));
    for (const char* verb : {"", "GET /x", "GET\r\n", "G\tET"})
        EXPECT_FALSE(IsRequestVerb(verb)) << verb;
}
}
}
