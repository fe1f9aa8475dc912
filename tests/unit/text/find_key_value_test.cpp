#include <gtest/gtest.h>

#include <string>

#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr const char* kHeaderTerminators = ";\r\n";
constexpr const char* kChallengeTerminators = ",\r\n";

TEST(FindKeyValue, ReadsAParameterOfAnRtspHeader)
{
    EXPECT_EQ(FindKeyValue("timeout", "=", "4711;timeout=60", kHeaderTerminators), "60");
    EXPECT_EQ(FindKeyValue("timeout", "=", "4711;timeout=60\r\nCSeq: 3\r\n", kHeaderTerminators), "60");
    EXPECT_EQ(FindKeyValue("Session", ":", "CSeq: 2\r\nSession: 4711;timeout=60\r\n", "\r\n"), " 4711;timeout=60")
        << "the value keeps its blanks";
}

TEST(FindKeyValue, ReadsADigestChallengeWithItsQuotes)
{
    const std::string challenge = "realm=\"cam\", nonce=\"x\"";
    EXPECT_EQ(FindKeyValue("realm", "=", challenge, kChallengeTerminators), "\"cam\"");
    EXPECT_EQ(FindKeyValue("nonce", "=", challenge, kChallengeTerminators), "\"x\"");
}

TEST(FindKeyValue, MatchesOnlyTheWholeTrimmedName)
{
    const std::string transport = "client_port=5000-5001;server_port=6970";
    EXPECT_EQ(FindKeyValue("port", "=", transport, ";"), "");
    EXPECT_EQ(FindKeyValue("server_port", "=", transport, ";"), "6970");
    EXPECT_EQ(FindKeyValue("client_port", "=", transport, ";"), "5000-5001");
    EXPECT_EQ(FindKeyValue("port", "=", "server_port=1;port=2", ";"), "2") << "the key after a longer name";
    EXPECT_EQ(FindKeyValue("timeout", "=", "  timeout \t=30", ";"), "30") << "blanks around the name";
    EXPECT_EQ(FindKeyValue("timeout", "=", "my timeout=5;timeout=6", ";"), "6");
    EXPECT_EQ(FindKeyValue("Timeout", "=", "timeout=5", ";"), "") << "case-sensitive";
}

TEST(FindKeyValue, PassesOverEntriesWithoutValue)
{
    EXPECT_EQ(FindKeyValue("b", "=", "a=1;b=", ";"), "");
    EXPECT_EQ(FindKeyValue("b", "=", "b=;b=2", ";"), "2");
    EXPECT_EQ(FindKeyValue("b", "=", "b=\r\nb=3\r\n", "\r\n"), "3");
}

TEST(FindKeyValue, TakesTheFirstOfRepeatedKeys)
{
    EXPECT_EQ(FindKeyValue("x", "=", "x=1;x=2", ";"), "1");
}

TEST(FindKeyValue, FindsTheKeyRightAfterAnEntryWithoutSeparator)
{
    // The key (or text containing it) in an entry without separator must not hide the entry that follows.
    EXPECT_EQ(FindKeyValue("a", "=", "a;a=1", ";"), "1");
    EXPECT_EQ(FindKeyValue("timeout", "=", "foo timeout;timeout=60", ";"), "60");
    EXPECT_EQ(FindKeyValue("realm", "=", "nonce=\"realmy\", realm=\"cam\"", kChallengeTerminators), "\"cam\"");
}

TEST(FindKeyValue, FindsNothingWithoutSeparatorOrKey)
{
    EXPECT_EQ(FindKeyValue("timeout", "=", "timeout", ";"), "");
    EXPECT_EQ(FindKeyValue("timeout", "=", "timeout;x=1", ";"), "");
    EXPECT_EQ(FindKeyValue("timeout", "=", "x=1;y=2", ";"), "");
    EXPECT_EQ(FindKeyValue("timeout", "=", "", ";"), "");
    EXPECT_EQ(FindKeyValue("", "=", "=1", ";"), "");
    EXPECT_EQ(FindKeyValue("timeout", "", "timeout=1", ";"), "");
    EXPECT_EQ(FindKeyValue("timeout", "=", "timeout=1", ""), "");
}

TEST(FindKeyValue, SkipsEntriesWhoseNameOnlyContainsTheKey)
{
    EXPECT_EQ(FindKeyValue("b", "=", "a=b=c;b=2", ";"), "2");
    EXPECT_EQ(FindKeyValue("b", "=", "a=b=c", ";"), "");
}

TEST(FindKeyValue, RunsTheValueToTheEndWithoutTerminator)
{
    EXPECT_EQ(FindKeyValue("timeout", "=", "timeout=60 s", "\r\n"), "60 s");
    EXPECT_EQ(FindKeyValue("key", ": ", "key: value", "\n"), "value") << "a separator of two characters";
}

TEST(FindKeyValueNumber, ReadsStrictDecimalsAndOtherwiseGivesZero)
{
    const std::string alarm = "MotionDetect=1\r\nAlarmInputDetect=-2\r\nName=cam\r\n";
    EXPECT_EQ(FindKeyValueNumber("MotionDetect", "=", alarm, "\r\n"), 1);
    EXPECT_EQ(FindKeyValueNumber("AlarmInputDetect", "=", alarm, "\r\n"), -2);
    EXPECT_EQ(FindKeyValueNumber("Name", "=", alarm, "\r\n"), 0);
    EXPECT_EQ(FindKeyValueNumber("Missing", "=", alarm, "\r\n"), 0);
    EXPECT_EQ(FindKeyValueNumber("timeout", "=", "timeout= 60", ";"), 0) << "no blanks inside a strict number";
    EXPECT_EQ(FindKeyValueNumber("timeout", "=", "timeout=99999999999", ";"), 0);
}
}
}
