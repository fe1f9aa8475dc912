#include "tools/host/summary.h"

#include "tools/host/text_format.h"

namespace kestrav::hostbench
{
namespace
{
std::string FrameCount(std::uint64_t frames)
{
    return std::to_string(frames) + (frames == 1 ? " frame" : " frames");
}

std::string Headline(const StreamResult& stream)
{
    const StreamCounters& counters = stream.counters;
    std::string line = stream.request.Name() + ": ";
    if (!stream.startAccepted)
        return line + "start refused by the capture object, no frames";
    if (counters.frames == 0)
        return line + "no frames";
    line += FrameCount(counters.frames);
    if (stream.request.codec == StreamCodec::H264)
        line += " (" + std::to_string(counters.keyFrames) + " with parameter sets)";
    line += ", " + ByteSize(counters.bytes);
    if (const std::optional<Rates> rates = AverageRates(counters))
        line += ", " + Fixed(rates->framesPerSecond, 1) + " fps, " + Fixed(rates->kilobitsPerSecond, 1) + " kbit/s";
    line += ", " + std::to_string(counters.width) + "x" + std::to_string(counters.height);
    return line;
}

void AppendDetails(std::vector<std::string>& lines, const StreamResult& stream)
{
    const StreamCounters& counters = stream.counters;
    if (counters.firstCaptureTime && counters.lastCaptureTime)
    {
        lines.push_back("    capture times " + DateAndTime(*counters.firstCaptureTime) + " to " +
                        DateAndTime(*counters.lastCaptureTime));
    }
    if (!stream.target.empty())
    {
        lines.push_back("    file " + stream.target.string() + ": " + FrameCount(stream.writtenFrames) + ", " +
                        ByteSize(stream.writtenBytes));
    }
    if (stream.droppedFrames != 0)
        lines.push_back("    " + FrameCount(stream.droppedFrames) + " not written: the disk did not keep up");
    if (!stream.writeError.empty())
        lines.push_back("    write error: " + stream.writeError);
    if (stream.motionWanted)
    {
        lines.push_back("    " + std::to_string(stream.motionRecords) +
                        (stream.motionRecords == 1 ? " motion record" : " motion records"));
    }
    if (counters.signalLostReports != 0)
        lines.push_back("    signal lost reported " + std::to_string(counters.signalLostReports) + " times");
    if (counters.lostFrames != 0)
        lines.push_back("    " + FrameCount(counters.lostFrames) + " lost on the way");
    if (counters.captureGaps != 0)
    {
        lines.push_back("    " + FrameCount(counters.missingFrames) + " missing in " +
                        std::to_string(counters.captureGaps) + " capture-time gaps");
    }
    if (counters.shortGroups != 0)
    {
        lines.push_back("    " + std::to_string(counters.shortGroups) + " key-frame groups short of the longest (" +
                        std::to_string(counters.longestGroup) + " frames) by " + FrameCount(counters.shortGroupFrames) +
                        " in all");
    }
}

// One line a script can read: every stream added up.
std::string Totals(const RecordingOutcome& outcome)
{
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    std::uint64_t missing = 0;
    std::uint64_t gaps = 0;
    std::uint64_t shortGroups = 0;
    std::uint64_t shortGroupFrames = 0;
    std::uint64_t lost = 0;
    std::size_t receiving = 0;
    for (const StreamResult& stream : outcome.streams)
    {
        frames += stream.counters.frames;
        bytes += stream.counters.bytes;
        missing += stream.counters.missingFrames;
        gaps += stream.counters.captureGaps;
        shortGroups += stream.counters.shortGroups;
        shortGroupFrames += stream.counters.shortGroupFrames;
        lost += stream.counters.lostFrames;
        receiving += stream.counters.frames != 0 ? 1 : 0;
    }
    return "totals: " + std::to_string(outcome.streams.size()) + " streams, " + std::to_string(receiving) +
           " with frames, " + FrameCount(frames) + ", " + ByteSize(bytes) + ", " + std::to_string(lost) +
           " frames lost; " + std::to_string(missing) + " frames missing in " + std::to_string(gaps) +
           " capture-time gaps, " + std::to_string(shortGroupFrames) + " in " + std::to_string(shortGroups) +
           " short key-frame groups";
}

std::uint64_t TotalFrames(const RecordingOutcome& outcome)
{
    std::uint64_t frames = 0;
    for (const StreamResult& stream : outcome.streams)
        frames += stream.counters.frames;
    return frames;
}

std::vector<std::string> StreamsWithoutFrames(const RecordingOutcome& outcome)
{
    std::vector<std::string> names;
    for (const StreamResult& stream : outcome.streams)
    {
        if (stream.counters.frames == 0)
            names.push_back(stream.request.Name());
    }
    return names;
}

std::string Verdict(const RecordingOutcome& outcome)
{
    const std::vector<std::string> silent = StreamsWithoutFrames(outcome);
    if (silent.empty())
        return "every stream received frames";
    std::string line = std::to_string(silent.size()) + " of " + std::to_string(outcome.streams.size()) +
                       (outcome.streams.size() == 1 ? " stream" : " streams") + " received no frame:";
    for (const std::string& name : silent)
        line += " " + name;
    return line;
}
}

std::vector<std::string> FormatSummary(const RecordingOutcome& outcome)
{
    std::vector<std::string> lines;
    lines.push_back("Summary: recorded " + Fixed(outcome.recordedSeconds, 1) + " s" +
                    (outcome.interrupted ? " (interrupted)" : ""));
    for (const StreamResult& stream : outcome.streams)
    {
        lines.push_back("  " + Headline(stream));
        AppendDetails(lines, stream);
    }
    if (outcome.misuses != 0)
    {
        lines.push_back("  the module misused host objects " + std::to_string(outcome.misuses) +
                        " times (see the MISUSE lines)");
    }
    lines.push_back("  " + Verdict(outcome));
    if (outcome.usage)
    {
        lines.push_back("  " + Totals(outcome));
        lines.push_back("  " + FormatProcessUsage(*outcome.usage, TotalFrames(outcome)));
    }
    return lines;
}

int ExitStatus(const RecordingOutcome& outcome)
{
    if (outcome.misuses != 0)
        return kExitMisuse;
    if (!StreamsWithoutFrames(outcome).empty())
        return kExitNoFrames;
    for (const StreamResult& stream : outcome.streams)
    {
        if (!stream.writeError.empty())
            return kExitFailed;
    }
    return kExitRecorded;
}
}
