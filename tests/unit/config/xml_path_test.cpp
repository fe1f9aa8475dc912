#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/xml_path.h"

namespace kestrav
{
namespace
{
TEST(FormatXmlPath, FormatsNumbersAsPrintfDoes)
{
    EXPECT_EQ(FormatXmlPath("%s/PtzChannel%.2u/Preposition%.3u/Name", "BrantelIPCapture", 1u, 7u),
              "BrantelIPCapture/PtzChannel01/Preposition007/Name");
    EXPECT_EQ(FormatXmlPath("a[@port=\"%hu\"][@n=\"%d\"][@x=\"%x\"][@w=\"%*d|%-3u|\"]",
                            static_cast<unsigned short>(554), -3, 255u, 4, 7, 5u),
              "a[@port=\"554\"][@n=\"-3\"][@x=\"ff\"][@w=\"   7|5  |\"]");
    EXPECT_EQ(FormatXmlPath("%llu%%%zu", 18446744073709551615ull, static_cast<std::size_t>(3)),
              "18446744073709551615%3");
}

TEST(FormatXmlPath, EscapesEveryTextArgument)
{
    EXPECT_EQ(FormatXmlPath("D[@address=\"%s\"]", "cam\"1\\"), "D[@address=\"cam\\\"1\\\\\"]");
    EXPECT_EQ(FormatXmlPath("[@c=\"%c\"]", '"'), "[@c=\"\\\"\"]");
    // A precision counts the value's own characters, so it cannot cut an escape in two.
    EXPECT_EQ(FormatXmlPath("[@v=\"%.2s\"]", "a\"b"), "[@v=\"a\\\"\"]");
    EXPECT_EQ(FormatXmlPath("%5s|%-4s|", "\"", "ab"), "   \\\"|ab  |");
}

TEST(FormatXmlPath, GivesNothingForConversionsItDoesNotSupport)
{
    int written = 0;
    EXPECT_EQ(FormatXmlPath("a%n", &written), "");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(FormatXmlPath("a%ls", L"wide"), "");
    EXPECT_EQ(FormatXmlPath("a%f", 1.5), "");
}

TEST(FormatXmlPath, CutsLongPathsAt1023Characters)
{
    const std::string name(2000, 'n');
    const std::string path = FormatXmlPath("Root/%s", name.c_str());
    EXPECT_EQ(path.size(), kMaximumXmlPathLength);
    EXPECT_EQ(path, "Root/" + name.substr(0, kMaximumXmlPathLength - 5));
    // Padding is cut like any other text.
    EXPECT_EQ(FormatXmlPath("%2000000000d", 1).size(), kMaximumXmlPathLength);
    EXPECT_EQ(FormatXmlPath("%.2000000000u", 1u).size(), kMaximumXmlPathLength);
}

TEST(ParseXmlPath, ReadsStepsAndConditions)
{
    const auto steps = ParseXmlPath("/Configuration/Device[@address=\"a\\\"b\\\\/c]\"][@port=\"80\"]/VideoChannel");
    ASSERT_TRUE(steps);
    ASSERT_EQ(steps->size(), 3u);
    EXPECT_EQ((*steps)[0].element, "Configuration");
    EXPECT_TRUE((*steps)[0].conditions.empty());
    ASSERT_EQ((*steps)[1].conditions.size(), 2u);
    EXPECT_EQ((*steps)[1].conditions[0].attribute, "address");
    EXPECT_EQ((*steps)[1].conditions[0].value, "a\"b\\/c]") << "a slash or bracket inside a value is text";
    EXPECT_EQ((*steps)[1].conditions[1].value, "80");
    EXPECT_EQ((*steps)[2].element, "VideoChannel");

    const auto unicode = ParseXmlPath("Kamera_Tür/東門[@name=\"🎥\"]");
    ASSERT_TRUE(unicode);
    EXPECT_EQ((*unicode)[1].element, "東門");
    EXPECT_EQ((*unicode)[1].conditions[0].value, "🎥");
}

TEST(ParseXmlPath, RefusesWhatCannotNameAnElement)
{
    for (const char* path :
         {"",        "/",         "a/",         "a//b",          "a b",          "1a",         "a:b",        "a[@b]",
          "a[@b=c]", "a[@b='c']", "a[@b=\"c\"", "a[@b=\"c\\\"]", "a[@b=\"c\"]x", "a[b=\"c\"]", "a[@=\"c\"]", "a|b",
          "a[1]",    "*",         "..",         "a<b",           "\xC3",         "a\xFF",      "ab\xE6\x9D"})
        EXPECT_FALSE(ParseXmlPath(path)) << path;
}
}
}
