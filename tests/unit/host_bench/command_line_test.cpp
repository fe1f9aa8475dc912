#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temporary_directory.h"
#include "tools/host/command_line.h"
#include "tools/host/driver_session.h"

namespace kestrav::hostbench
{
namespace
{
RecordOptions ParseRecord(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "record");
    const Command command = ParseCommandLine(arguments);
    EXPECT_EQ(command.kind, Command::Kind::Record);
    return command.record;
}

// The message of the usage error the arguments cause, or "" when they parse.
std::string UsageErrorOf(std::vector<std::string> arguments)
{
    try
    {
        ParseCommandLine(arguments);
    }
    catch (const UsageError& error)
    {
        return error.what();
    }
    return "";
}

TEST(HostBenchStreamRequest, EverySettingIsRead)
{
    EXPECT_EQ(ParseStreamRequest("h264").Name(), "ch0-main-h264");

    const StreamRequest stream = ParseStreamRequest("jpeg,channel=2,kind=remote,size=1280x720,fps=10,quality=0");
    EXPECT_EQ(stream.codec, StreamCodec::Jpeg);
    EXPECT_EQ(stream.channel, 2u);
    EXPECT_EQ(stream.kind, StreamKind::Remote);
    EXPECT_EQ(stream.width, 1280);
    EXPECT_EQ(stream.height, 720);
    EXPECT_EQ(stream.frameRate, 10);
    EXPECT_EQ(stream.quality, 0);
    EXPECT_EQ(stream.Name(), "ch2-remote-jpeg");

    const StreamRequest keyed = ParseStreamRequest("kind=1,codec=jpeg,width=320,height=240");
    EXPECT_EQ(keyed.codec, StreamCodec::Jpeg);
    EXPECT_EQ(keyed.kind, StreamKind::Live);
    EXPECT_EQ(keyed.width, 320);
    EXPECT_EQ(keyed.height, 240);
}

TEST(HostBenchStreamRequest, BadValuesAreUsageErrorsNamingTheSetting)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "--stream needs a value"},
        {"vp8", "codec must be h264 or jpeg"},
        {"h264,kind=side", "kind must be main, live or remote"},
        {"h264,size=1280", "WIDTHxHEIGHT"},
        {"h264,size=0x720", "width"},
        {"h264,size=1280x70000", "height"},
        // The host's frame-rate code holds the rate in 12 bits.
        {"h264,fps=4096", "fps"},
        {"h264,fps=0", "fps"},
        {"h264,quality=101", "quality"},
        {"h264,quality=-1", "quality"},
        {"h264,channel=1x", "channel"},
        {"h264,bitrate=100", "unknown stream setting 'bitrate'"},
        {"h264,jpeg", "must be KEY=VALUE"},
    };
    for (const auto& [text, message] : cases)
    {
        SCOPED_TRACE(text);
        try
        {
            ParseStreamRequest(text);
            ADD_FAILURE() << "accepted";
        }
        catch (const UsageError& error)
        {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
}

TEST(HostBenchParamsText, ReadsNumberedLinesKeepingValuesAsWritten)
{
    const std::map<int, std::string> params = ParseParamsText("# written by a device search\r\n"
                                                              "\n"
                                                              "2=2.4.1 build 0312\r\n"
                                                              "  # indented comment\n"
                                                              "5=h264:720p 1280x720 30 1024- 20-,;#jpeg:d1 a=b,;#\n"
                                                              "4=8554\n"
                                                              "2=2.5\n",
                                                              "params.txt");
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params.at(2), "2.5") << "a later line wins";
    EXPECT_EQ(params.at(4), "8554");
    EXPECT_EQ(params.at(5), "h264:720p 1280x720 30 1024- 20-,;#jpeg:d1 a=b,;#");
}

TEST(HostBenchParamsText, BadLinesNameTheFileAndLine)
{
    EXPECT_THROW(ParseParamsText("1=0\nno equals sign\n", "p.txt"), UsageError);
    try
    {
        ParseParamsText("1=0\n7=x\n", "p.txt");
        ADD_FAILURE() << "index 7 accepted";
    }
    catch (const UsageError& error)
    {
        EXPECT_NE(std::string(error.what()).find("p.txt:2"), std::string::npos) << error.what();
    }
    EXPECT_THROW(ParseParamsText("0=x\n", "p.txt"), UsageError);
    EXPECT_THROW(ParseParamsText(" 1=x\n", "p.txt"), UsageError);
}

TEST(HostBenchRecordCommand, ReadsTheDeviceTheStreamsAndTheOutput)
{
    const RecordOptions options = ParseRecord({"--module",
                                               "/opt/m.so",
                                               "--address=cam.local",
                                               "--port",
                                               "8080",
                                               "--user",
                                               "admin",
                                               "--password=p=w",
                                               "--model",
                                               "VC-4220",
                                               "--stream",
                                               "h264,size=1920x1080",
                                               "--stream=jpeg,kind=live",
                                               "--out",
                                               "/tmp/rec",
                                               "--duration",
                                               "2.5",
                                               "--jpeg-files",
                                               "--status-interval",
                                               "0.5",
                                               "--discard",
                                               "--devices",
                                               "16"});
    ASSERT_TRUE(options.modulePath);
    EXPECT_EQ(*options.modulePath, "/opt/m.so");
    EXPECT_EQ(options.device.address, "cam.local");
    EXPECT_EQ(options.device.port, 8080);
    EXPECT_EQ(options.device.user, "admin");
    EXPECT_EQ(options.device.password, "p=w") << "only the option name ends at '='";
    EXPECT_EQ(options.device.model, "VC-4220");
    ASSERT_EQ(options.streams.size(), 2u);
    EXPECT_EQ(options.streams[0].width, 1920);
    EXPECT_EQ(options.streams[1].codec, StreamCodec::Jpeg);
    EXPECT_EQ(options.streams[1].kind, StreamKind::Live);
    EXPECT_EQ(options.outDirectory, "/tmp/rec");
    ASSERT_TRUE(options.durationSeconds);
    EXPECT_DOUBLE_EQ(*options.durationSeconds, 2.5);
    EXPECT_TRUE(options.jpegFiles);
    ASSERT_TRUE(options.statusIntervalSeconds);
    EXPECT_DOUBLE_EQ(*options.statusIntervalSeconds, 0.5);
    EXPECT_TRUE(options.discard);
    EXPECT_EQ(options.devices, 16u);
}

TEST(HostBenchRecordCommand, ParamOptionsWinOverTheParamsFileWhereverTheyStand)
{
    const TemporaryDirectory directory;
    const std::string file = (directory.Path() / "params").string();
    std::ofstream(file) << "4=554\n5=h264:d1 720x480 25 512- 50-,;#\n";
    const RecordOptions options =
        ParseRecord({"--param", "4=8554", "--params-file", file, "--param=2=1.0", "--param", "6=", "--stream", "h264"});
    const std::map<int, std::string> expected = {
        {2, "1.0"}, {4, "8554"}, {5, "h264:d1 720x480 25 512- 50-,;#"}, {6, ""}};
    EXPECT_EQ(options.device.extraParams, expected);
}

TEST(HostBenchRecordCommand, MistakesAreUsageErrors)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no command"},
        {{"play"}, "unknown command 'play'"},
        {{"record"}, "at least one --stream"},
        {{"record", "--stream"}, "--stream needs a value"},
        {{"record", "--stream", "h264", "--verbose"}, "unknown option '--verbose'"},
        {{"record", "--stream", "h264", "--port", "0"}, "--port"},
        {{"record", "--stream", "h264", "--port", "65536"}, "--port"},
        {{"record", "--stream", "h264", "--duration", "0"}, "positive number of seconds"},
        {{"record", "--stream", "h264", "--duration", "soon"}, "positive number of seconds"},
        {{"record", "--stream", "h264", "--param", "7=x"}, "numbered 1 to 6"},
        {{"record", "--stream", "h264", "--param", "5"}, "N=VALUE"},
        {{"record", "--stream", "h264", "--params-file", "/nonexistent/params"}, "cannot read the params file"},
        {{"record", "--stream", "h264", "--jpeg-files=yes"}, "takes no value"},
        {{"record", "--stream", "h264", "--address", ""}, "--address"},
        // One place per stream kind of a channel: a second start would replace the first.
        {{"record", "--stream", "h264", "--stream", "jpeg,kind=main"}, "two streams ask for channel 0 main"},
        {{"record", "--stream", "h264", "--motion=1"}, "takes no value"},
        {{"record", "--stream", "h264", "--discard=1"}, "takes no value"},
        {{"record", "--stream", "h264", "--devices", "0"}, "--devices"},
        {{"record", "--stream", "h264", "--devices", "1025"}, "--devices"},
        {{"io", "--relay", "1"}, "N=on or N=off"},
        {{"io", "--relay", "0=on"}, "--relay"},
        {{"io", "--relay", "1=maybe"}, "on or off"},
        {{"io", "--relay", "2=on"}, "beyond the 1 output(s)"},
        {{"io", "--watch", "0"}, "positive number of seconds"},
        {{"io", "--stream", "h264"}, "unknown option '--stream' for io"},
    };
    for (const auto& [arguments, message] : cases)
    {
        SCOPED_TRACE(arguments.empty() ? "(nothing)" : arguments.back());
        const std::string error = UsageErrorOf(arguments);
        EXPECT_NE(error.find(message), std::string::npos) << "error: '" << error << "'";
    }
}

TEST(HostBenchIoCommand, ReadsTheDeviceTheRelaysInOrderAndTheWatch)
{
    const Command command =
        ParseCommandLine({"io", "--address", "192.0.2.7", "--port", "8080", "--outputs", "2", "--relay", "2=on",
                          "--relay=1=off", "--relay", "2=off", "--watch", "30", "--param", "3=00-11-22-33-44-55"});
    ASSERT_EQ(command.kind, Command::Kind::Io);
    const IoOptions& options = command.io;
    EXPECT_EQ(options.device.address, "192.0.2.7");
    EXPECT_EQ(options.device.port, 8080);
    EXPECT_EQ(options.device.extraParams, (std::map<int, std::string>{{3, "00-11-22-33-44-55"}}));
    EXPECT_EQ(options.inputs, 1u);
    EXPECT_EQ(options.outputs, 2u);
    ASSERT_EQ(options.relays.size(), 3u);
    EXPECT_EQ(options.relays[0].relay, 2u);
    EXPECT_TRUE(options.relays[0].on);
    EXPECT_EQ(options.relays[1].relay, 1u);
    EXPECT_FALSE(options.relays[1].on);
    EXPECT_FALSE(options.relays[2].on);
    EXPECT_DOUBLE_EQ(*options.watchSeconds, 30.0);
    EXPECT_TRUE(ParseRecord({"--stream", "h264", "--motion"}).motion);
}

TEST(HostBenchRecordCommand, StreamsOfOtherChannelsOrKindsMayShareACodec)
{
    EXPECT_EQ(UsageErrorOf({"record", "--stream", "h264", "--stream", "h264,kind=live", "--stream", "h264,channel=1"}),
              "");
}

TEST(HostBenchRecordCommand, HelpWinsOverEverythingElse)
{
    EXPECT_EQ(ParseCommandLine({"--help"}).kind, Command::Kind::Help);
    EXPECT_EQ(ParseCommandLine({"record", "--stream", "h264", "--help"}).kind, Command::Kind::Help);
    EXPECT_EQ(ParseCommandLine({"record", "-h"}).kind, Command::Kind::Help) << "no stream needed for help";
    EXPECT_NE(UsageText().find("--params-file"), std::string::npos);
}

TEST(HostBenchExtraParams, GapsBelowTheHighestParameterReadAsTheEmptyDeviceSearchValue)
{
    const std::map<int, std::string> given = {{2, "1.0"}, {5, "h264:d1 720x480 25 512- 50-,;#"}};
    const std::map<int, std::string> expected = {
        {1, "(none)"}, {2, "1.0"}, {3, "(none)"}, {4, "(none)"}, {5, "h264:d1 720x480 25 512- 50-,;#"}};
    EXPECT_EQ(HostExtraParams(given), expected);
    EXPECT_TRUE(HostExtraParams({}).empty());
}

TEST(HostBenchProbeCommand, ReadsTheDeviceAndWhereTheDetailsGo)
{
    const Command command =
        ParseCommandLine({"probe", "--address", "cam.local", "--port=8080", "--user", "admin", "--password", "p=w",
                          "--out", "/tmp/cam.params", "--video-standard", "25", "--timeout", "5", "--module", "/m.so"});
    ASSERT_EQ(command.kind, Command::Kind::Probe);
    const ProbeOptions& probe = command.probe;
    EXPECT_EQ(probe.address, "cam.local");
    EXPECT_EQ(probe.port, 8080);
    EXPECT_EQ(probe.user, "admin");
    EXPECT_EQ(probe.password, "p=w");
    EXPECT_EQ(probe.paramsFile, "/tmp/cam.params");
    EXPECT_FALSE(probe.videoStandard30);
    EXPECT_DOUBLE_EQ(probe.timeoutSeconds, 5.0);
    EXPECT_EQ(probe.modulePath, std::filesystem::path("/m.so"));
    EXPECT_TRUE(ParseCommandLine({"probe"}).probe.videoStandard30);

    const std::pair<std::vector<std::string>, const char*> mistakes[] = {
        {{"probe", "--stream", "h264"}, "unknown option '--stream' for probe"},
        {{"probe", "--port", "0"}, "--port"},
        {{"probe", "--video-standard", "50"}, "--video-standard"},
        {{"probe", "--out", ""}, "--out"},
        {{"probe", "--timeout", "-1"}, "positive number of seconds"},
    };
    for (const auto& [arguments, message] : mistakes)
    {
        const std::string error = UsageErrorOf(arguments);
        EXPECT_NE(error.find(message), std::string::npos) << "error: '" << error << "'";
    }
    EXPECT_EQ(ParseCommandLine({"probe", "--help"}).kind, Command::Kind::Help);
}

TEST(HostBenchParamsText, WhatTheProbeWritesRecordReadsBack)
{
    const std::map<int, std::string> details = {
        {1, "1"},
        {2, "(none)"},
        {3, " 00:1C:A8:12:34:56 "},
        {4, "8554"},
        {5, "h264:1080p 1920x1080 30 1024-2048- 20-30-,;jpeg:d1 720x480 25  20-,;#h264:cif 352x240 30 128- 20-,;#"},
        {6, "1,1,128"},
    };
    const TemporaryDirectory directory;
    const std::string file = (directory.Path() / "camera.params").string();
    std::ofstream(file) << FormatParamsText(details, {"VARON VC-4220\r\nat 127.0.0.1:80", "second comment"});
    EXPECT_EQ(ParseRecord({"--params-file", file, "--stream", "h264"}).device.extraParams, details);

    // A line break of a camera's text cannot stand in a line of its own: it becomes a space.
    EXPECT_EQ(ParseParamsText(FormatParamsText({{2, "2.4\r\nbuild 7"}}, {}), "p").at(2), "2.4  build 7");
}
}
}
