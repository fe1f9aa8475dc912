#include "tools/host/stream_stats.h"

#include <algorithm>
#include <cmath>

namespace kestrav::hostbench
{
namespace
{
double Seconds(SteadyTime from, SteadyTime to)
{
    return std::chrono::duration<double>(to - from).count();
}

// Milliseconds since 1970; a date the calendar cannot hold gives none.
std::optional<std::int64_t> Milliseconds(const ipcapture::SystemTime& time)
{
    const std::chrono::year_month_day date{std::chrono::year(time.wYear), std::chrono::month(time.wMonth),
                                           std::chrono::day(time.wDay)};
    if (!date.ok())
        return std::nullopt;
    const auto day = std::chrono::sys_days(date).time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(day).count() +
           ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * 1000 + time.wMilliseconds;
}

Rates RatesOver(std::uint64_t frames, std::uint64_t bytes, double seconds)
{
    if (seconds <= 0.0)
        return {};
    return {static_cast<double>(frames) / seconds, static_cast<double>(bytes) * 8.0 / 1000.0 / seconds};
}
}

std::uint64_t StreamStats::OnFrame(const FrameFacts& frame)
{
    std::lock_guard lock(mutex_);
    if (counters_.frames == 0)
    {
        counters_.firstArrival = frame.arrival;
        counters_.firstCaptureTime = frame.captureTime;
        counters_.firstFrameBytes = frame.bytes;
    }
    ++counters_.frames;
    counters_.bytes += frame.bytes;
    if (frame.keyFrame)
        ++counters_.keyFrames;
    CountGroup(frame.keyFrame);
    counters_.width = frame.width;
    counters_.height = frame.height;
    counters_.lastArrival = frame.arrival;
    if (frame.captureTime)
    {
        if (counters_.lastCaptureTime)
            CountGap(*counters_.lastCaptureTime, *frame.captureTime);
        counters_.lastCaptureTime = frame.captureTime;
    }
    return counters_.frames;
}

void StreamStats::CountGap(const ipcapture::SystemTime& previous, const ipcapture::SystemTime& current)
{
    const std::optional<std::int64_t> from = Milliseconds(previous);
    const std::optional<std::int64_t> to = Milliseconds(current);
    if (!(frameRate_ > 0.0) || !from || !to)
        return;
    const double interval = 1000.0 / frameRate_;
    const double step = static_cast<double>(*to - *from);
    if (step <= 1.5 * interval)
        return;
    const std::uint64_t missing = static_cast<std::uint64_t>(std::llround(step / interval)) - 1;
    ++counters_.captureGaps;
    counters_.missingFrames += missing;
    if (counters_.keyFrames == 0 || (counters_.longestGroup != 0 && missing >= counters_.longestGroup))
        counters_.lostFrames += missing;
}

void StreamStats::CountGroup(bool keyFrame)
{
    if (!keyFrame)
    {
        // Frames before the first key frame belong to no group.
        if (counters_.framesInGroup != 0)
            ++counters_.framesInGroup;
        return;
    }
    if (counters_.framesInGroup != 0)
    {
        counters_.longestGroup = std::max(counters_.longestGroup, counters_.framesInGroup);
        if (counters_.framesInGroup < counters_.longestGroup)
        {
            ++counters_.shortGroups;
            counters_.shortGroupFrames += counters_.longestGroup - counters_.framesInGroup;
            counters_.lostFrames += counters_.longestGroup - counters_.framesInGroup;
        }
    }
    counters_.framesInGroup = 1;
}

void StreamStats::OnSignalLost(SteadyTime when)
{
    std::lock_guard lock(mutex_);
    ++counters_.signalLostReports;
    counters_.lastSignalLost = when;
}

StreamCounters StreamStats::Snapshot() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

std::optional<Rates> AverageRates(const StreamCounters& counters)
{
    if (counters.frames < 2 || !counters.firstArrival || !counters.lastArrival)
        return std::nullopt;
    const double span = Seconds(*counters.firstArrival, *counters.lastArrival);
    if (span <= 0.0)
        return std::nullopt;
    return RatesOver(counters.frames - 1, counters.bytes - counters.firstFrameBytes, span);
}

Rates RateMeter::Sample(std::uint64_t frames, std::uint64_t bytes, SteadyTime now)
{
    const Rates rates = RatesOver(frames - frames_, bytes - bytes_, Seconds(last_, now));
    last_ = now;
    frames_ = frames;
    bytes_ = bytes;
    return rates;
}

std::string_view StateName(StreamState state)
{
    switch (state)
    {
    case StreamState::StartFailed:
        return "start failed";
    case StreamState::Starting:
        return "starting";
    case StreamState::Receiving:
        return "receiving";
    case StreamState::Stalled:
        return "stalled";
    case StreamState::SignalLost:
        return "signal lost";
    case StreamState::Stopped:
        return "stopped";
    }
    return "unknown";
}

StreamState StateOf(const StateInputs& inputs, const StreamCounters& counters, SteadyTime now)
{
    if (!inputs.startAccepted)
        return StreamState::StartFailed;
    if (inputs.stopped)
        return StreamState::Stopped;
    const bool lostSinceLastFrame =
        counters.lastSignalLost && (!counters.lastArrival || *counters.lastSignalLost >= *counters.lastArrival);
    if (lostSinceLastFrame)
        return StreamState::SignalLost;
    if (!counters.lastArrival)
        return StreamState::Starting;
    if (now - *counters.lastArrival >= inputs.stallAfter)
        return StreamState::Stalled;
    return StreamState::Receiving;
}
}
