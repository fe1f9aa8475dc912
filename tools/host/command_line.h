// The command line of brantel-host: what to open, which streams to record and where to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav::hostbench
{
// Exit status of a command line the program cannot run; the message says what is wrong.
constexpr int kExitUsage = 2;

class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class StreamCodec
{
    H264,
    Jpeg,
};

// The capture object's stream places, numbered as the host numbers them.
enum class StreamKind : std::uint32_t
{
    Main = 0,
    Live = 1,
    Remote = 2,
};

// The channel factory's codec code for a stream.
std::int32_t CodecCode(StreamCodec codec);
std::string_view CodecName(StreamCodec codec);
std::string_view KindName(StreamKind kind);

struct StreamRequest
{
    StreamCodec codec = StreamCodec::H264;
    std::uint32_t channel = 0;
    StreamKind kind = StreamKind::Main;
    std::uint16_t width = 704;
    std::uint16_t height = 576;
    std::uint16_t frameRate = 25;
    std::uint16_t quality = 70;
    // 0 when the bench opens one device; from 1 when it opens the camera as several devices (--devices).
    std::uint32_t device = 0;

    // "ch0-main-h264", "dev2-ch0-main-h264" for the second of several devices: names the stream in status lines
    // and its output file.
    std::string Name() const;
};

// The device as the host knows it: connection, model and the extra parameters that the device
// search wrote (1 video standard, 2 firmware, 3 MAC address, 4 RTSP port, 5 stream capabilities,
// 6 PTZ features).
struct DeviceOptions
{
    static constexpr int kFirstExtraParam = 1;
    static constexpr int kLastExtraParam = 6;

    std::string address = "127.0.0.1";
    std::uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model = "BenchCamera";
    std::map<int, std::string> extraParams;
};

struct RecordOptions
{
    // Empty: the module beside the program, else the one of this build tree.
    std::optional<std::filesystem::path> modulePath;
    DeviceOptions device;
    std::vector<StreamRequest> streams;
    std::filesystem::path outDirectory = "recording";
    // None: until interrupted.
    std::optional<double> durationSeconds;
    bool jpegFiles = false;
    // None: once a second on a terminal, every 5 s otherwise.
    std::optional<double> statusIntervalSeconds;
    // The main stream of each channel is started with motion detection and its motion records are printed.
    bool motion = false;
    // Frames are counted and dropped: nothing is queued or written, so a benchmark measures the module, not the disk.
    bool discard = false;
    // The same camera opened as this many independent devices (one driver each), each with every stream.
    std::uint32_t devices = 1;
};

// One --relay: relay numbers start at 1, as the camera counts them.
struct RelayCommand
{
    std::uint32_t relay = 1;
    bool on = false;
};

struct IoOptions
{
    std::optional<std::filesystem::path> modulePath;
    DeviceOptions device;
    // What the host's device model reports.
    std::uint32_t inputs = 1;
    std::uint32_t outputs = 1;
    std::vector<RelayCommand> relays;
    // How long input changes are printed; none: long enough for the relay commands to go out.
    std::optional<double> watchSeconds;
};

struct ProbeOptions
{
    std::optional<std::filesystem::path> modulePath;
    std::string address = "127.0.0.1";
    std::uint16_t port = 80;
    std::string user;
    std::string password;
    // True: the host runs its cameras at 30 frames per second; false: at 25.
    bool videoStandard30 = true;
    // Where the device detail texts go, for record --params-file.
    std::filesystem::path paramsFile = "camera.params";
    // How long the camera may take before the search is cut short.
    double timeoutSeconds = 60.0;
};

// brantel-host ptz: one PTZ action on one channel. `action` is the words after the options, such as
// {"move", "up"}, {"preset", "save", "Gate"}; ParsePtz checks them.
struct PtzOptions
{
    std::optional<std::filesystem::path> modulePath;
    DeviceOptions device;
    std::uint32_t channel = 0;
    std::int32_t speed = 8;
    // How long the module gets to send a queued command before the driver is closed.
    double waitSeconds = 0.5;
    std::vector<std::string> action;
};

struct Command
{
    enum class Kind
    {
        Help,
        Record,
        Probe,
        Io,
        Ptz,
    };
    Kind kind = Kind::Help;
    RecordOptions record;
    ProbeOptions probe;
    IoOptions io;
    PtzOptions ptz;
};

// The arguments after the program name. Throws UsageError.
Command ParseCommandLine(const std::vector<std::string>& arguments);
// The arguments of the ptz command (the first is "ptz"); `help` is set for --help. Throws UsageError.
PtzOptions ParsePtz(const std::vector<std::string>& arguments, bool& help);
std::string UsageText();

// One --stream value: an optional codec first ("h264" or "jpeg"), then key=value items separated
// by commas: codec, channel, kind (main|live|remote), size (WxH), width, height, fps, quality.
StreamRequest ParseStreamRequest(std::string_view text);

// One --relay value: "N=on" or "N=off" with N from 1.
RelayCommand ParseRelayCommand(std::string_view text);

// Lines "N=VALUE" (N from 1 to 6); blank lines and lines starting with '#' are skipped. The value
// is everything after the first '=', kept as written (it may hold spaces, '#' and '='), without
// a trailing carriage return. `source` names the text in error messages.
std::map<int, std::string> ParseParamsText(std::string_view text, std::string_view source);

// What ParseParamsText reads back as `params`: the comment lines first (each prefixed with "# "), then
// "N=VALUE" lines. A line break inside a value cannot be written, so it becomes a space.
std::string FormatParamsText(const std::map<int, std::string>& params, const std::vector<std::string>& comments);
}
