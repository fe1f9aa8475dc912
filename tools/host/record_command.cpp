#include "tools/host/record_command.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "hostkit/host_kit.h"
#include "tools/host/driver_session.h"
#include "tools/host/module_loader.h"
#include "tools/host/posix_system.h"
#include "tools/host/process_usage.h"
#include "tools/host/status_line.h"
#include "tools/host/stream_recorder.h"
#include "tools/host/summary.h"
#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
using Recorders = std::vector<std::unique_ptr<StreamRecorder>>;
using Sessions = std::vector<std::unique_ptr<DriverSession>>;
using Clock = std::chrono::steady_clock;

// Often enough that Ctrl-C feels prompt (the end of the duration is waited for exactly), and rarely
// enough that the bench's own wake-ups do not count in the CPU it measures.
constexpr std::chrono::milliseconds kPollInterval{500};

int Fail(Console& console, const std::string& message)
{
    console.Error("brantel-host: " + message);
    return kExitFailed;
}

std::uint32_t ChannelCountFor(const std::vector<StreamRequest>& streams)
{
    std::uint32_t highest = 0;
    for (const StreamRequest& stream : streams)
        highest = std::max(highest, stream.channel);
    return highest + 1;
}

std::chrono::duration<double> StatusInterval(const RecordOptions& options, Console::Mode mode)
{
    if (options.statusIntervalSeconds)
        return std::chrono::duration<double>(*options.statusIntervalSeconds);
    // A terminal redraws in place; a log file gets a line per stream each time.
    return std::chrono::duration<double>(mode == Console::Mode::Terminal ? 1.0 : 5.0);
}

// The requested streams once per device; with several devices each copy is named after its device.
std::vector<StreamRequest> StreamsOfEveryDevice(const RecordOptions& options)
{
    std::vector<StreamRequest> streams;
    for (std::uint32_t device = 1; device <= options.devices; ++device)
    {
        for (StreamRequest stream : options.streams)
        {
            stream.device = options.devices > 1 ? device : 0;
            streams.push_back(stream);
        }
    }
    return streams;
}

// Each stream's writer is opened before the driver, so an unwritable output fails before the camera is touched.
// Discarded streams get no writer and touch no disk.
bool MakeRecorders(const RecordOptions& options, hostkit::HostKit& kit, Console& console, Recorders& recorders)
{
    std::error_code error;
    if (!options.discard)
    {
        std::filesystem::create_directories(options.outDirectory, error);
        if (error || !std::filesystem::is_directory(options.outDirectory, error))
        {
            Fail(console, "cannot create the output directory " + options.outDirectory.string());
            return false;
        }
    }
    for (const StreamRequest& request : StreamsOfEveryDevice(options))
    {
        std::unique_ptr<FrameWriter> writer;
        if (!options.discard)
        {
            std::string reason;
            writer = OpenStreamWriter(request, options.outDirectory, options.jpegFiles, reason);
            if (!writer)
            {
                Fail(console, reason);
                return false;
            }
        }
        recorders.push_back(std::make_unique<StreamRecorder>(request, std::move(writer), kit.SharedMisuse(),
                                                             [&console](const std::string& line)
                                                             { console.Line(line); }));
    }
    return true;
}

// The session of a stream's device: devices are numbered from 1 when there are several, 0 when there is one.
DriverSession& SessionOf(const StreamRequest& stream, Sessions& sessions)
{
    return *sessions[stream.device == 0 ? 0 : stream.device - 1];
}

bool WithMotion(const RecordOptions& options, const StreamRequest& stream)
{
    return options.motion && stream.kind == StreamKind::Main;
}

void StartStreams(const RecordOptions& options, Sessions& sessions, Recorders& recorders, Console& console)
{
    for (auto& recorder : recorders)
    {
        DriverSession& session = SessionOf(recorder->Request(), sessions);
        // Streams go through StartStream, which adds neither privacy masks nor motion detection; with --motion the
        // main ones go through StartChannel, which adds the motion channel.
        bool accepted = false;
        if (WithMotion(options, recorder->Request()))
        {
            recorder->SetMotionWanted();
            accepted = session.StartChannel(recorder->Request(), recorder->Sink(), recorder->Params());
        }
        else
            accepted = session.StartStream(recorder->Request(), recorder->Sink(), recorder->Params());
        recorder->SetStartAccepted(accepted);
        if (!accepted)
            console.Line(recorder->Request().Name() + ": the capture object refused the stream start");
    }
}

bool AnyStarted(const Recorders& recorders)
{
    const Clock::time_point now = Clock::now();
    return std::any_of(recorders.begin(), recorders.end(),
                       [now](const auto& recorder) { return recorder->State(now) != StreamState::StartFailed; });
}

class StatusBoard
{
public:
    StatusBoard(const Recorders& recorders, Console& console, Clock::time_point start,
                const std::optional<double>& duration)
        : recorders_(recorders), console_(console), start_(start), duration_(duration)
    {
        for (std::size_t i = 0; i < recorders.size(); ++i)
            meters_.emplace_back(start);
    }

    // `stopped`: the last refresh, after the streams were stopped.
    void Show(Clock::time_point now, bool stopped = false)
    {
        const std::string elapsed = Fixed(std::chrono::duration<double>(now - start_).count(), 1) + " s";
        std::vector<std::string> lines;
        if (console_.GetMode() == Console::Mode::Terminal && stopped)
            lines.push_back("stopped after " + elapsed);
        else if (console_.GetMode() == Console::Mode::Terminal)
        {
            lines.push_back("recording " + elapsed + (duration_ ? " of " + Fixed(*duration_, 1) + " s" : "") +
                            ", Ctrl-C stops");
        }
        for (std::size_t i = 0; i < recorders_.size(); ++i)
        {
            const StreamCounters counters = recorders_[i]->Counters();
            const Rates live = meters_[i].Sample(counters.frames, counters.bytes, now);
            std::string line =
                FormatStatusLine(recorders_[i]->Request().Name(), recorders_[i]->State(now), counters, live);
            lines.push_back(console_.GetMode() == Console::Mode::Terminal ? "  " + line : "[" + elapsed + "] " + line);
        }
        console_.Status(lines);
    }

private:
    const Recorders& recorders_;
    Console& console_;
    const Clock::time_point start_;
    const std::optional<double> duration_;
    std::vector<RateMeter> meters_;
};

// Until the duration ends or the user interrupts; true when interrupted.
bool Record(const RecordOptions& options, StatusBoard& board, Console::Mode mode,
            const std::function<bool()>& interrupted, Clock::time_point start)
{
    const auto interval = std::chrono::duration_cast<Clock::duration>(StatusInterval(options, mode));
    // Without a duration the recording ends only when interrupted.
    const Clock::time_point end = options.durationSeconds
                                      ? start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(*options.durationSeconds))
                                      : Clock::time_point::max();
    Clock::time_point nextStatus = start + interval;
    board.Show(start);
    for (;;)
    {
        if (interrupted())
            return true;
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return false;
        if (now >= nextStatus)
        {
            board.Show(now);
            nextStatus = std::max(nextStatus + interval, now);
        }
        const Clock::time_point wake = std::min({now + kPollInterval, nextStatus, end});
        std::this_thread::sleep_until(wake);
    }
}

void StopStreams(const RecordOptions& options, Sessions& sessions, Recorders& recorders)
{
    // A refused start may still leave a channel in its place; the stop releases it.
    for (auto& recorder : recorders)
    {
        DriverSession& session = SessionOf(recorder->Request(), sessions);
        if (WithMotion(options, recorder->Request()))
            session.StopChannel(recorder->Request().channel);
        else
            session.StopStream(recorder->Request());
        recorder->SetStopped();
    }
    for (auto& session : sessions)
        session->Close();
}

// Threads and memory while every stream still runs; CPU once all is stopped, so the stop is paid for too.
ProcessUsage SampleWhileRunning()
{
    ProcessUsage usage;
    ReadProcessStatus(posix::ProcessStatusText(), usage);
    return usage;
}

void AddCpuTimes(ProcessUsage& usage)
{
    const posix::CpuTimes cpu = posix::ProcessCpuTimes();
    usage.userSeconds = cpu.user;
    usage.systemSeconds = cpu.system;
}
}

int RunRecord(const RecordOptions& options, Console& console, const std::function<bool()>& interrupted)
{
    DriverModule module;
    std::string error;
    const std::filesystem::path modulePath = options.modulePath.value_or(DefaultModulePath());
    if (!module.Load(modulePath, error))
        return Fail(console, error);

    // Declared before everything that hands its objects to the module, so it is destroyed last.
    hostkit::HostKit kit;
    ConfigureHost(kit, options.device, ChannelCountFor(options.streams));
    kit.Debug().SetEcho([&console](const hostkit::DebugRecord& record)
                        { console.Line(FormatLogLine(record.level, record.text)); });
    kit.SetMisuseHandler([&console](const std::string& misuse) { console.Line("MISUSE: " + misuse); });

    Recorders recorders;
    if (!MakeRecorders(options, kit, console, recorders))
        return kExitFailed;

    Sessions sessions;
    for (std::uint32_t device = 0; device < options.devices; ++device)
    {
        sessions.push_back(std::make_unique<DriverSession>(module, kit));
        if (!sessions.back()->Open(error))
            return Fail(console, error);
    }
    console.Line("Opened " + options.device.address + ":" + std::to_string(options.device.port) +
                 (options.devices > 1 ? " as " + std::to_string(options.devices) + " devices" : "") + " with " +
                 module.Path().string() + ", " + std::to_string(sessions.front()->ChannelCount()) +
                 " video channel(s)" + (options.discard ? ", frames counted and discarded" : ""));

    const Clock::time_point start = Clock::now();
    StartStreams(options, sessions, recorders, console);
    StatusBoard board(recorders, console, start, options.durationSeconds);
    RecordingOutcome outcome;
    if (AnyStarted(recorders))
        outcome.interrupted = Record(options, board, console.GetMode(), interrupted, start);
    outcome.recordedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    ProcessUsage usage = SampleWhileRunning();
    StopStreams(options, sessions, recorders);
    board.Show(Clock::now(), true);
    console.EndStatus();

    for (auto& recorder : recorders)
    {
        recorder->Finish();
        outcome.streams.push_back(recorder->Result());
    }
    // Every buffer must be back once the driver is gone.
    kit.Allocator().CheckAllReleased();
    AddCpuTimes(usage);
    outcome.usage = usage;
    outcome.misuses = kit.Misuse().Count();
    for (const std::string& line : FormatSummary(outcome))
        console.Line(line);
    return ExitStatus(outcome);
}
}
