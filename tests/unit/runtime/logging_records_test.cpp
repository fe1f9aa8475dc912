#include <gtest/gtest.h>

#include <cstddef>
#include <limits>
#include <string>
#include <utility>

#include "runtime/debug_info.h"
#include "runtime/format_string.h"
#include "runtime/result_def.h"
#include "support/recording_owner.h"

namespace kestrav
{
namespace
{
TEST(FormatString, MeasuresLongLinesExactly)
{
    const std::string long_text(10000, 'x');
    const std::string line = FormatString("%s: %s|%d", "kestrav::Test::Method", long_text.c_str(), 42);
    EXPECT_EQ(line.size(), std::string("kestrav::Test::Method: ").size() + 10000 + 3);
    EXPECT_EQ(line.substr(line.size() - 3), "|42");
    EXPECT_EQ(FormatString("%s", ""), "");
}

TEST(FormatString, FormatsSizesAndSixtyFourBitValuesAsC99Does)
{
    // The logs carry sizes and 64-bit counters. A printf without these conversions (msvcrt's) would print them
    // wrong and shift every argument after them, hence the text at the end of each case.
    const std::pair<std::string, std::string> cases[] = {
        {FormatString("%zu|%s", static_cast<std::size_t>(4000000000u), "end"), "4000000000|end"},
        {FormatString("%lld|%llu|%s", std::numeric_limits<long long>::min(),
                      std::numeric_limits<unsigned long long>::max(), "end"),
         "-9223372036854775808|18446744073709551615|end"},
        {FormatString("%hhu|%zd|%s", 511, static_cast<std::ptrdiff_t>(-5), "end"), "255|-5|end"},
    };
    for (const auto& [formatted, expected] : cases)
        EXPECT_EQ(formatted, expected);
}

TEST(DebugInfo, KeepsItsOwnCopyAndGivesNullForAnEmptyText)
{
    std::string text = "line";
    const CDebugInfo info(text, 3);
    text[0] = 'X';
    EXPECT_STREQ(info.GetText(), "line");
    EXPECT_EQ(info.GetLevel(), 3);
    EXPECT_EQ(CDebugInfo("", 1).GetText(), nullptr);
}

TEST(ResultDef, RecordsFormattedOutcomes)
{
    CResultDef result;
    EXPECT_EQ(result.GetLevel(), 0);
    result.SetResultEx(1, 9, "%s: Page %s not found (%d)", "kestrav::HUtils::RequestGetRD", "/server", 404);
    EXPECT_EQ(result.GetLevel(), 1);
    EXPECT_EQ(result.GetCode(), 9);
    EXPECT_EQ(result.GetText(), "kestrav::HUtils::RequestGetRD: Page /server not found (404)");

    result.SetResultEx(3, 0, nullptr);
    EXPECT_EQ(result.GetText(), "") << "no format clears the text";

    CResultDef copy;
    copy.SetResult(2, 5, "warn");
    result = copy;
    EXPECT_EQ(result.GetCode(), 5);
    EXPECT_EQ(result.GetText(), "warn");
}

TEST(ResultDef, LogsItsTextAsAFinishedLine)
{
    testing::RecordingOwner owner;
    CResultDef result;
    result.SetResult(1, 3, "100% failed %s %d");
    result.LogResult(&owner);
    result.SetResult(4, 0, "debug detail");
    result.LogResult(&owner);
    result.SetResult(2, 0, "");
    result.LogResult(&owner);

    const auto lines = owner.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, 1u);
    EXPECT_EQ(lines[0].text, "100% failed %s %d") << "the text is never used as a format";
}
}
}
