// The ptz command line: which action words are accepted, and the options beside them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/host/command_line.h"
#include "tools/host/ptz_command.h"

namespace kestrav::hostbench
{
namespace
{
std::vector<std::string> Words(const std::string& text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < text.size())
    {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

TEST(PtzCommandLine, AcceptsEachActionAndNothingElse)
{
    const char* accepted[] = {"ptz move down-left",
                              "ptz zoom out",
                              "ptz focus far",
                              "ptz iris close",
                              "ptz stop",
                              "ptz preset list",
                              "ptz preset save Gate",
                              "ptz preset rename Gate Door",
                              "ptz --speed 16 --channel 1 move up"};
    for (const char* line : accepted)
    {
        const Command command = ParseCommandLine(Words(line));
        EXPECT_EQ(command.kind, Command::Kind::Ptz) << line;
    }
    const char* refused[] = {"ptz",
                             "ptz move",
                             "ptz move north",
                             "ptz stop now",
                             "ptz preset save",
                             "ptz preset rename Gate",
                             "ptz zoom in out",
                             "ptz --speed 0 stop",
                             "ptz --speed 17 stop",
                             "ptz --stream h264 stop"};
    for (const char* line : refused)
        EXPECT_THROW(ParseCommandLine(Words(line)), UsageError) << line;
}

TEST(PtzCommandLine, OptionsAndParametersAreKept)
{
    const Command command =
        ParseCommandLine(Words("ptz --address 10.0.0.9 --param 3=00:40:8c:aa:bb:cc --speed 3 preset goto Gate"));
    EXPECT_EQ(command.ptz.device.address, "10.0.0.9");
    EXPECT_EQ(command.ptz.device.extraParams.at(3), "00:40:8c:aa:bb:cc");
    EXPECT_EQ(command.ptz.speed, 3);
    EXPECT_EQ(command.ptz.action, (std::vector<std::string>{"preset", "goto", "Gate"}));
    EXPECT_EQ(PtzResultWord(-26), "no room for another preset");
}
}
}
