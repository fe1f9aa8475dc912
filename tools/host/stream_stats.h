// What one stream has delivered so far, and the rates and state derived from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include <brantel/media.h>

namespace kestrav::hostbench
{
using SteadyTime = std::chrono::steady_clock::time_point;

struct StreamCounters
{
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    // H.264 access units that carry the sequence parameters: where a decoder can start.
    std::uint64_t keyFrames = 0;
    std::uint64_t firstFrameBytes = 0;
    std::uint64_t signalLostReports = 0;
    // Frames lost on the way. Nothing of the module counts RTP sequence gaps for the host, but the module drops
    // what a lost packet damaged, an H.264 stream up to its next key frame, which a host sees two ways:
    // - capture times further apart than one and a half frame intervals of the requested rate, and the frames
    //   that would fill them. A frame delivered more than half an interval late makes the module set its clock
    //   again, which shows as a small gap too;
    // - H.264 key-frame groups (a key frame and the frames up to the next one) shorter than the longest group
    //   so far, and by how many frames. Blind to delivery times, and to a loss that takes a whole group.
    // So lostFrames counts, for H.264, the frames of short groups and of capture-time gaps of a whole group or
    // more, and for streams without key frames (JPEG) every capture-time gap.
    std::uint64_t lostFrames = 0;
    std::uint64_t captureGaps = 0;
    std::uint64_t missingFrames = 0;
    std::uint64_t shortGroups = 0;
    std::uint64_t shortGroupFrames = 0;
    std::uint64_t longestGroup = 0;
    std::uint64_t framesInGroup = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Capture times as the module stamped them (UTC).
    std::optional<ipcapture::SystemTime> firstCaptureTime;
    std::optional<ipcapture::SystemTime> lastCaptureTime;
    std::optional<SteadyTime> firstArrival;
    std::optional<SteadyTime> lastArrival;
    std::optional<SteadyTime> lastSignalLost;
};

struct FrameFacts
{
    std::uint64_t bytes = 0;
    bool keyFrame = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::optional<ipcapture::SystemTime> captureTime;
    SteadyTime arrival;
};

// Updated from the module's delivering threads, read by the status display.
class StreamStats
{
public:
    // `frameRate`: the rate the frames were asked for, which capture-time gaps are measured against; 0 counts
    // no gaps.
    explicit StreamStats(double frameRate = 0.0) : frameRate_(frameRate) {}

    // The number of frames so far, this one included.
    std::uint64_t OnFrame(const FrameFacts& frame);
    void OnSignalLost(SteadyTime when);
    StreamCounters Snapshot() const;

private:
    void CountGap(const ipcapture::SystemTime& previous, const ipcapture::SystemTime& current);
    void CountGroup(bool keyFrame);

    const double frameRate_;
    mutable std::mutex mutex_;
    StreamCounters counters_;
};

struct Rates
{
    double framesPerSecond = 0.0;
    double kilobitsPerSecond = 0.0;
};

// Over the span from the first to the last frame: n frames make n - 1 intervals, and the bytes of
// the first frame arrived before the span began. None with fewer than two frames.
std::optional<Rates> AverageRates(const StreamCounters& counters);

// The rates between one status refresh and the next.
class RateMeter
{
public:
    explicit RateMeter(SteadyTime start) : last_(start) {}
    Rates Sample(std::uint64_t frames, std::uint64_t bytes, SteadyTime now);

private:
    SteadyTime last_;
    std::uint64_t frames_ = 0;
    std::uint64_t bytes_ = 0;
};

enum class StreamState
{
    // The capture object refused the start.
    StartFailed,
    // Started, no frame yet.
    Starting,
    Receiving,
    // Frames came, but none for a while.
    Stalled,
    // The module reported the signal lost and no frame came since.
    SignalLost,
    Stopped,
};

std::string_view StateName(StreamState state);

struct StateInputs
{
    bool startAccepted = false;
    bool stopped = false;
    // A receiving stream without a frame for this long is stalled.
    std::chrono::milliseconds stallAfter{2000};
};

StreamState StateOf(const StateInputs& inputs, const StreamCounters& counters, SteadyTime now);
}
