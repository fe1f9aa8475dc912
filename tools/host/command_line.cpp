#include "tools/host/command_line.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace kestrav::hostbench
{
namespace
{
// The host's frame-rate code carries the rate in 12 bits.
constexpr unsigned kMaxFrameRate = 0x0FFF;
constexpr unsigned kMaxQuality = 100;
constexpr unsigned kMaxChannel = 255;
// Enough for a scale benchmark; each device costs the module a handful of threads and sockets.
constexpr unsigned kMaxDevices = 1024;
// A params file is a handful of short lines; anything bigger is the wrong file.
constexpr std::size_t kMaxParamsFileBytes = 1024 * 1024;

template <typename Number> std::optional<Number> ReadNumber(std::string_view text)
{
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

unsigned ReadUnsigned(std::string_view text, unsigned low, unsigned high, std::string_view what)
{
    const std::optional<unsigned> value = ReadNumber<unsigned>(text);
    if (!value || *value < low || *value > high)
    {
        throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + std::string(text) + "'");
    }
    return *value;
}

StreamCodec ReadCodec(std::string_view text)
{
    if (text == "h264")
        return StreamCodec::H264;
    if (text == "jpeg")
        return StreamCodec::Jpeg;
    throw UsageError("stream codec must be h264 or jpeg, not '" + std::string(text) + "'");
}

StreamKind ReadKind(std::string_view text)
{
    if (text == "main" || text == "0")
        return StreamKind::Main;
    if (text == "live" || text == "1")
        return StreamKind::Live;
    if (text == "remote" || text == "2")
        return StreamKind::Remote;
    throw UsageError("stream kind must be main, live or remote, not '" + std::string(text) + "'");
}

std::pair<std::uint16_t, std::uint16_t> ReadSize(std::string_view text)
{
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos)
        throw UsageError("stream size must be WIDTHxHEIGHT, such as 1280x720, not '" + std::string(text) + "'");
    return {static_cast<std::uint16_t>(ReadUnsigned(text.substr(0, x), 1, 65535, "stream width")),
            static_cast<std::uint16_t>(ReadUnsigned(text.substr(x + 1), 1, 65535, "stream height"))};
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

void ApplyStreamItem(StreamRequest& stream, std::string_view key, std::string_view value)
{
    if (key == "codec")
        stream.codec = ReadCodec(value);
    else if (key == "channel")
        stream.channel = ReadUnsigned(value, 0, kMaxChannel, "stream channel");
    else if (key == "kind")
        stream.kind = ReadKind(value);
    else if (key == "size")
        std::tie(stream.width, stream.height) = ReadSize(value);
    else if (key == "width")
        stream.width = static_cast<std::uint16_t>(ReadUnsigned(value, 1, 65535, "stream width"));
    else if (key == "height")
        stream.height = static_cast<std::uint16_t>(ReadUnsigned(value, 1, 65535, "stream height"));
    else if (key == "fps")
        stream.frameRate = static_cast<std::uint16_t>(ReadUnsigned(value, 1, kMaxFrameRate, "stream fps"));
    else if (key == "quality")
        stream.quality = static_cast<std::uint16_t>(ReadUnsigned(value, 0, kMaxQuality, "stream quality"));
    else
        throw UsageError("unknown stream setting '" + std::string(key) +
                         "' (known: codec, channel, kind, size, width, height, fps, quality)");
}

int ReadParamIndex(std::string_view text, std::string_view where)
{
    const std::optional<int> index = ReadNumber<int>(text);
    if (!index || *index < DeviceOptions::kFirstExtraParam || *index > DeviceOptions::kLastExtraParam)
    {
        throw UsageError(std::string(where) + ": extra parameters are numbered 1 to 6, not '" + std::string(text) +
                         "'");
    }
    return *index;
}

std::pair<int, std::string> ReadParamAssignment(std::string_view text, std::string_view where)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        throw UsageError(std::string(where) + ": expected N=VALUE, not '" + std::string(text) + "'");
    return {ReadParamIndex(text.substr(0, equals), where), std::string(text.substr(equals + 1))};
}

std::map<int, std::string> ReadParamsFile(const std::string& file)
{
    std::ifstream input(file, std::ios::binary);
    if (!input)
        throw UsageError("cannot read the params file '" + file + "'");
    std::string text(kMaxParamsFileBytes + 1, '\0');
    input.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(input.gcount()));
    if (text.size() > kMaxParamsFileBytes)
        throw UsageError("the params file '" + file + "' is larger than 1 MiB");
    return ParseParamsText(text, file);
}

double ReadSeconds(std::string_view text, std::string_view option)
{
    const std::optional<double> seconds = ReadNumber<double>(text);
    // Beyond a year is a typo, and it keeps the conversion to a clock duration in range.
    if (!seconds || !(*seconds > 0.0) || *seconds > 366.0 * 24 * 3600)
        throw UsageError(std::string(option) + " must be a positive number of seconds, not '" + std::string(text) +
                         "'");
    return *seconds;
}

// Walks the arguments of one command; options take their value as the next argument or after '='.
class ArgumentCursor
{
public:
    explicit ArgumentCursor(const std::vector<std::string>& arguments, std::size_t first)
        : arguments_(arguments), next_(first)
    {
    }

    bool Done() const { return next_ >= arguments_.size() && !inlineValue_; }

    // The next option name, with an inline "=value" split off.
    std::string NextOption()
    {
        std::string argument = arguments_[next_++];
        inlineValue_.reset();
        const std::size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos)
        {
            inlineValue_ = argument.substr(equals + 1);
            argument.resize(equals);
        }
        return argument;
    }

    std::string Value(const std::string& option)
    {
        if (inlineValue_)
            return *std::exchange(inlineValue_, std::nullopt);
        if (next_ >= arguments_.size())
            throw UsageError(option + " needs a value");
        return arguments_[next_++];
    }

    void NoValue(const std::string& option)
    {
        if (inlineValue_)
            throw UsageError(option + " takes no value");
    }

private:
    const std::vector<std::string>& arguments_;
    std::size_t next_;
    std::optional<std::string> inlineValue_;
};

void CheckPtzAction(const std::vector<std::string>& action)
{
    // Each action word with what may follow it; "NAME" takes any one word.
    static const std::map<std::string, std::vector<std::vector<std::string>>> kActions = {
        {"move", {{"up"}, {"down"}, {"left"}, {"right"}, {"up-left"}, {"up-right"}, {"down-left"}, {"down-right"}}},
        {"zoom", {{"in"}, {"out"}}},
        {"focus", {{"near"}, {"far"}}},
        {"iris", {{"open"}, {"close"}}},
        {"stop", {{}}},
        {"preset", {{"list"}, {"save", "NAME"}, {"goto", "NAME"}, {"rename", "NAME", "NAME"}, {"delete", "NAME"}}},
    };
    const auto found = action.empty() ? kActions.end() : kActions.find(action.front());
    if (found != kActions.end())
    {
        for (const std::vector<std::string>& form : found->second)
        {
            bool matches = action.size() == form.size() + 1;
            for (std::size_t i = 0; matches && i < form.size(); ++i)
                matches = form[i] == "NAME" || form[i] == action[i + 1];
            if (matches)
                return;
        }
    }
    std::string given;
    for (const std::string& word : action)
        given += (given.empty() ? "" : " ") + word;
    throw UsageError("ptz needs one action: move up|down|left|right|up-left|up-right|down-left|down-right, "
                     "zoom in|out, focus near|far, iris open|close, stop, preset list|save NAME|goto NAME|"
                     "rename OLD NEW|delete NAME; not '" +
                     given + "'");
}

void CheckStreams(const std::vector<StreamRequest>& streams)
{
    if (streams.empty())
        throw UsageError("record needs at least one --stream");
    std::set<std::pair<std::uint32_t, StreamKind>> places;
    for (const StreamRequest& stream : streams)
    {
        // The capture object keeps one stream per kind of each channel: a second start replaces the first.
        if (!places.insert({stream.channel, stream.kind}).second)
        {
            throw UsageError("two streams ask for channel " + std::to_string(stream.channel) + " " +
                             std::string(KindName(stream.kind)) +
                             "; each channel has one main, live and remote stream");
        }
    }
}

// Reads a command's options one by one; false when --help was asked for (nothing after it is read).
// `readOption` takes one option with its value and returns false for an option the command does not know.
template <typename ReadOption>
bool ReadCommandOptions(const std::vector<std::string>& arguments, const char* command, ReadOption readOption)
{
    ArgumentCursor cursor(arguments, 1);
    while (!cursor.Done())
    {
        const std::string option = cursor.NextOption();
        if (option == "--help" || option == "-h")
        {
            cursor.NoValue(option);
            return false;
        }
        if (!readOption(option, cursor))
            throw UsageError("unknown option '" + option + "' for " + command);
    }
    return true;
}

ProbeOptions ParseProbe(const std::vector<std::string>& arguments, bool& help)
{
    ProbeOptions options;
    help = !ReadCommandOptions(
        arguments, "probe",
        [&](const std::string& option, ArgumentCursor& cursor)
        {
            if (option == "--module")
                options.modulePath = cursor.Value(option);
            else if (option == "--address")
                options.address = cursor.Value(option);
            else if (option == "--port")
                options.port = static_cast<std::uint16_t>(ReadUnsigned(cursor.Value(option), 1, 65535, option));
            else if (option == "--user")
                options.user = cursor.Value(option);
            else if (option == "--password")
                options.password = cursor.Value(option);
            else if (option == "--video-standard")
                options.videoStandard30 = ReadUnsigned(cursor.Value(option), 25, 30, option) == 30;
            else if (option == "--out")
                options.paramsFile = cursor.Value(option);
            else if (option == "--timeout")
                options.timeoutSeconds = ReadSeconds(cursor.Value(option), option);
            else
                return false;
            return true;
        });
    if (help)
        return options;
    if (options.address.empty())
        throw UsageError("--address must not be empty");
    if (options.paramsFile.empty())
        throw UsageError("--out must not be empty");
    return options;
}

// The device options of every command; they fill `device` once the whole line is read.
class DeviceArguments
{
public:
    // False when the option is none of them.
    bool Read(const std::string& option, ArgumentCursor& cursor, std::optional<std::filesystem::path>& modulePath,
              DeviceOptions& device)
    {
        if (option == "--module")
            modulePath = cursor.Value(option);
        else if (option == "--address")
            device.address = cursor.Value(option);
        else if (option == "--port")
            device.port = static_cast<std::uint16_t>(ReadUnsigned(cursor.Value(option), 1, 65535, option));
        else if (option == "--user")
            device.user = cursor.Value(option);
        else if (option == "--password")
            device.password = cursor.Value(option);
        else if (option == "--model")
            device.model = cursor.Value(option);
        else if (option == "--param")
        {
            auto [index, value] = ReadParamAssignment(cursor.Value(option), option);
            lineParams_.insert_or_assign(index, std::move(value));
        }
        else if (option == "--params-file")
        {
            for (auto& [index, value] : ReadParamsFile(cursor.Value(option)))
                fileParams_.insert_or_assign(index, std::move(value));
        }
        else
            return false;
        return true;
    }

    void Finish(DeviceOptions& device)
    {
        if (device.address.empty())
            throw UsageError("--address must not be empty");
        // A --param wins over a params file wherever it stands on the line.
        device.extraParams = std::move(fileParams_);
        for (auto& [index, value] : lineParams_)
            device.extraParams.insert_or_assign(index, std::move(value));
    }

private:
    std::map<int, std::string> fileParams_;
    std::map<int, std::string> lineParams_;
};

RecordOptions ParseRecord(const std::vector<std::string>& arguments, bool& help)
{
    RecordOptions options;
    DeviceArguments device;
    help = !ReadCommandOptions(arguments, "record",
                               [&](const std::string& option, ArgumentCursor& cursor)
                               {
                                   if (device.Read(option, cursor, options.modulePath, options.device))
                                       return true;
                                   if (option == "--stream")
                                       options.streams.push_back(ParseStreamRequest(cursor.Value(option)));
                                   else if (option == "--out")
                                       options.outDirectory = cursor.Value(option);
                                   else if (option == "--duration")
                                       options.durationSeconds = ReadSeconds(cursor.Value(option), option);
                                   else if (option == "--status-interval")
                                       options.statusIntervalSeconds = ReadSeconds(cursor.Value(option), option);
                                   else if (option == "--jpeg-files")
                                   {
                                       cursor.NoValue(option);
                                       options.jpegFiles = true;
                                   }
                                   else if (option == "--motion")
                                   {
                                       cursor.NoValue(option);
                                       options.motion = true;
                                   }
                                   else if (option == "--discard")
                                   {
                                       cursor.NoValue(option);
                                       options.discard = true;
                                   }
                                   else if (option == "--devices")
                                       options.devices = ReadUnsigned(cursor.Value(option), 1, kMaxDevices, option);
                                   else
                                       return false;
                                   return true;
                               });
    if (help)
        return options;
    device.Finish(options.device);
    if (options.outDirectory.empty())
        throw UsageError("--out must not be empty");
    CheckStreams(options.streams);
    return options;
}

IoOptions ParseIo(const std::vector<std::string>& arguments, bool& help)
{
    IoOptions options;
    DeviceArguments device;
    help = !ReadCommandOptions(arguments, "io",
                               [&](const std::string& option, ArgumentCursor& cursor)
                               {
                                   if (device.Read(option, cursor, options.modulePath, options.device))
                                       return true;
                                   if (option == "--relay")
                                       options.relays.push_back(ParseRelayCommand(cursor.Value(option)));
                                   else if (option == "--watch")
                                       options.watchSeconds = ReadSeconds(cursor.Value(option), option);
                                   else if (option == "--inputs")
                                       options.inputs = ReadUnsigned(cursor.Value(option), 0, 16, option);
                                   else if (option == "--outputs")
                                       options.outputs = ReadUnsigned(cursor.Value(option), 0, 16, option);
                                   else
                                       return false;
                                   return true;
                               });
    if (help)
        return options;
    device.Finish(options.device);
    for (const RelayCommand& relay : options.relays)
    {
        if (relay.relay > options.outputs)
            throw UsageError("relay " + std::to_string(relay.relay) + " is beyond the " +
                             std::to_string(options.outputs) + " output(s) of --outputs");
    }
    return options;
}
}

RelayCommand ParseRelayCommand(std::string_view text)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        throw UsageError("--relay needs N=on or N=off, not '" + std::string(text) + "'");
    RelayCommand command;
    command.relay = ReadUnsigned(text.substr(0, equals), 1, 16, "--relay");
    const std::string_view state = text.substr(equals + 1);
    if (state != "on" && state != "off")
        throw UsageError("--relay state must be on or off, not '" + std::string(state) + "'");
    command.on = state == "on";
    return command;
}

std::int32_t CodecCode(StreamCodec codec)
{
    return codec == StreamCodec::Jpeg ? 1 : 3;
}

std::string_view CodecName(StreamCodec codec)
{
    return codec == StreamCodec::Jpeg ? "jpeg" : "h264";
}

std::string_view KindName(StreamKind kind)
{
    switch (kind)
    {
    case StreamKind::Main:
        return "main";
    case StreamKind::Live:
        return "live";
    case StreamKind::Remote:
        return "remote";
    }
    return "unknown";
}

std::string StreamRequest::Name() const
{
    const std::string prefix = device == 0 ? "" : "dev" + std::to_string(device) + "-";
    return prefix + "ch" + std::to_string(channel) + "-" + std::string(KindName(kind)) + "-" +
           std::string(CodecName(codec));
}

StreamRequest ParseStreamRequest(std::string_view text)
{
    StreamRequest stream;
    if (text.empty())
        throw UsageError("--stream needs a value such as h264,size=1280x720,fps=25");
    const std::vector<std::string_view> items = Split(text, ',');
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        const std::string_view item = items[i];
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos && i == 0)
            stream.codec = ReadCodec(item);
        else if (equals == std::string_view::npos)
            throw UsageError("stream setting '" + std::string(item) + "' must be KEY=VALUE");
        else
            ApplyStreamItem(stream, item.substr(0, equals), item.substr(equals + 1));
    }
    return stream;
}

std::map<int, std::string> ParseParamsText(std::string_view text, std::string_view source)
{
    std::map<int, std::string> params;
    std::size_t lineNumber = 0;
    for (std::string_view line : Split(text, '\n'))
    {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        const std::string where = std::string(source) + ":" + std::to_string(lineNumber);
        auto [index, value] = ReadParamAssignment(line, where);
        params.insert_or_assign(index, std::move(value));
    }
    return params;
}

Command ParseCommandLine(const std::vector<std::string>& arguments)
{
    Command command;
    if (arguments.empty())
        throw UsageError("no command given");
    const std::string& name = arguments.front();
    if (name == "--help" || name == "-h" || name == "help")
        return command;
    bool help = false;
    if (name == "record")
    {
        command.record = ParseRecord(arguments, help);
        command.kind = help ? Command::Kind::Help : Command::Kind::Record;
    }
    else if (name == "probe")
    {
        command.probe = ParseProbe(arguments, help);
        command.kind = help ? Command::Kind::Help : Command::Kind::Probe;
    }
    else if (name == "io")
    {
        command.io = ParseIo(arguments, help);
        command.kind = help ? Command::Kind::Help : Command::Kind::Io;
    }
    else if (name == "ptz")
    {
        command.ptz = ParsePtz(arguments, help);
        command.kind = help ? Command::Kind::Help : Command::Kind::Ptz;
    }
    else
        throw UsageError("unknown command '" + name + "'");
    return command;
}

std::string FormatParamsText(const std::map<int, std::string>& params, const std::vector<std::string>& comments)
{
    const auto oneLine = [](std::string text)
    {
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        return text;
    };
    std::string text;
    for (const std::string& comment : comments)
        text += "# " + oneLine(comment) + "\n";
    for (const auto& [index, value] : params)
        text += std::to_string(index) + "=" + oneLine(value) + "\n";
    return text;
}

PtzOptions ParsePtz(const std::vector<std::string>& arguments, bool& help)
{
    PtzOptions options;
    DeviceArguments device;
    help = !ReadCommandOptions(arguments, "ptz",
                               [&](const std::string& option, ArgumentCursor& cursor)
                               {
                                   // The action's words stand among the options: "move up", "preset save Gate".
                                   if (option.rfind("-", 0) != 0 || option == "-")
                                       options.action.push_back(option);
                                   else if (device.Read(option, cursor, options.modulePath, options.device))
                                       return true;
                                   else if (option == "--channel")
                                       options.channel = ReadUnsigned(cursor.Value(option), 0, kMaxChannel, option);
                                   else if (option == "--speed")
                                       options.speed =
                                           static_cast<std::int32_t>(ReadUnsigned(cursor.Value(option), 1, 16, option));
                                   else if (option == "--wait")
                                       options.waitSeconds = ReadSeconds(cursor.Value(option), option);
                                   else
                                       return false;
                                   return true;
                               });
    if (help)
        return options;
    device.Finish(options.device);
    CheckPtzAction(options.action);
    return options;
}

std::string UsageText()
{
    return R"usage(usage: brantel-host probe [OPTIONS]
       brantel-host record [OPTIONS] --stream STREAM [--stream STREAM ...] [--motion]
       brantel-host io [DEVICE OPTIONS] [--relay N=on|off ...] [--watch SECONDS]
       brantel-host ptz [DEVICE OPTIONS] [--channel N] [--speed N] [--wait S] ACTION
       brantel-host --help

Loads libBrantelIPCapture.so as a recording server does. probe searches a camera as a host does when an
operator adds one: prints what it is and can do and writes the device details that record, io and ptz then take
with --params-file. record opens one camera and records its streams; io switches its relays and prints its
alarm input's changes; ptz runs one PTZ action.

probe:
  --module PATH, --address HOST, --port N, --user NAME, --password TEXT   as for record
  --video-standard 25|30 frames per second the host runs the camera at (default 30)
  --out FILE             where the device details go (default ./camera.params)
  --timeout SECONDS      cut the search short after this long (default 60)
  Exit status: 0 found; 1 the search failed (its code and message are printed); 2 usage error;
  3 the module could not be loaded or has no device search, or FILE could not be written;
  4 the module misused a host object.

Device (record, io, ptz):
  --module PATH          the module to load (default: beside this program, else the one of its build tree)
  --address HOST         camera address (default 127.0.0.1)
  --port N               camera HTTP port (default 80)
  --user NAME, --password TEXT
  --model NAME           device model name the host reports (default BenchCamera)
  --param N=VALUE        extra parameter N (1 to 6) as the device search writes it: 1 video standard,
                         2 firmware, 3 MAC address, 4 RTSP port, 5 stream capabilities, 6 PTZ features
  --params-file FILE     lines N=VALUE ('#' starts a comment line); --param wins over the file.
                         Parameters missing below the highest one given are handed to the module as
                         "(none)", since the module reads them in order up to the first missing one.
Streams (repeatable; one stream per channel and kind):
  --stream STREAM        [h264|jpeg][,channel=N][,kind=main|live|remote][,size=WxH][,fps=N][,quality=P]
                         defaults: h264, channel 0, main, 704x576, 25 fps, quality 70
Output:
  --out DIR              where files go (default ./recording): <stream>.h264 (Annex B) for H.264,
                         <stream>.mjpeg (pictures one after another) for JPEG, e.g. ch0-main-h264.h264
  --jpeg-files           one file per JPEG picture instead: <stream>/000001.jpg ...
  --duration SECONDS     stop after this long (default: at Ctrl-C)
  --status-interval S    seconds between status lines (default 1 on a terminal, 5 otherwise)
  --motion               start each channel's main stream with motion detection and print its motion
                         records as they arrive; the summary counts them
Benchmark:
  --discard              count the frames and drop them: no files, no writer threads (--out is not used)
  --devices N            open the camera as N independent devices in this process (1 to 1024), each with
                         every --stream; streams are then named dev1-ch0-main-h264 ...
  The summary ends with the totals of every stream and the process's CPU time (user + system, also per 1000
  frames), threads and resident memory (sampled before the streams stop). Frames lost: the module drops what a
  lost packet damaged (H.264 up to the next key frame), so an H.264 key-frame group shorter than the longest
  one, or a gap in the capture times of a whole group or more, is a loss; smaller capture-time gaps are frames
  delivered late and are counted apart. For JPEG every capture-time gap is a loss.
IO (io):
  --inputs N, --outputs N  the device's alarm inputs and relay outputs (default 1 and 1)
  --relay N=on|off       switch relay N (from 1) after all relays were switched off at start; repeatable
  --watch SECONDS        print input changes for this long (default: until the relay commands went out)

PTZ (one action per run; results print as the module's code and a word):
  ACTION                 move up|down|left|right|up-left|up-right|down-left|down-right, zoom in|out,
                         focus near|far, iris open|close, stop, preset list|save NAME|goto NAME|
                         rename OLD NEW (goes to OLD, then renames it)|delete NAME
  --channel N            PTZ channel (default 0); --speed N: 1 to 16 (default 8)
  --wait S               seconds the module gets to send the command before it is closed (default 0.5)
  Presets are kept by the module in BrantelIPCapture_<MAC>.preset beside this program (MAC: --param 3).
  Exit status: 0 done, 1 the module refused (its code printed), 2 usage, 3 no module, device or control.

Exit status: 0 every requested stream received frames and every file was written completely;
  1 some requested stream received no frame; 2 usage error; 3 the module could not be loaded or
  opened, an output could not be created, or a file could not be written completely; 4 the module
  misused a host object (reported as MISUSE lines). For io: 0 the IO started and every relay command was
  taken; 3 the module could not be loaded or opened or the IO not started, or a relay command was refused.
)usage";
}
}
