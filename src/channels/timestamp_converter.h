// Turns the RTP timestamps of a 90 kHz video stream into wall-clock frame times.
#pragma once

#include <cstdint>
#include <functional>

#include <brantel/media.h>

#include "channels/statistics_helper.h"

namespace kestrav
{
// Frame times run on the camera's clock, paced by the RTP timestamps and tied to the local
// clock: at first each RTP tick counts as 111 × 100 ns; after 100 frames the step follows the
// measured ratio of clock time to RTP time, and a lead over the local clock is worked off in
// bounded corrections, so that frame times neither run away nor jump back. Whatever the
// timestamps do (a camera restart, a clock jump, a wild packet), frame times rise by at least a
// millisecond per frame and stay between the clock and a second ahead of it: a step of a second
// or more either way restarts the conversion from the clock.
class CTimeStampConverter
{
public:
    // The clock gives the current time in 100 ns units since 1601-01-01 UTC (0 when unreadable);
    // tests inject their own.
    using Clock = std::function<std::uint64_t()>;

    CTimeStampConverter();
    explicit CTimeStampConverter(Clock clock);
    virtual ~CTimeStampConverter() = default;

    void Reset();
    // Feeds one RTP timestamp.
    void Update(std::uint32_t timestamp);

    // 0 before the first timestamp.
    std::uint64_t GetFrameTime() const { return m_frameTime; }
    std::uint32_t GetLastTimestamp() const { return m_lastTimestamp; }
    std::uint64_t GetLead() const { return m_lead; }
    // The frame time as a UTC calendar time; false when there is none or it cannot be converted.
    bool GetFrameTime(ipcapture::SystemTime* time) const;

private:
    void Restart(std::uint64_t now, std::uint32_t timestamp);
    // Advances the frame time for a plausible forward step of `delta` ticks.
    void Advance(std::uint32_t delta, std::uint64_t now, bool& exact);

    Clock m_clock;
    std::uint64_t m_frameTime = 0;
    std::uint32_t m_lastTimestamp = 0;
    // A timestamp of 0 is a timestamp like any other.
    bool m_started = false;
    std::uint64_t m_lead = 0;
    TStatisticsHelper<unsigned int> m_rtpDeltas;
    TStatisticsHelper<unsigned int> m_clockDeltas;
    std::uint64_t m_lastClock = 0;
    bool m_clockMode = true;
    std::uint64_t m_fixedIncrement = 0;
    // The last frame time given out, kept across Reset: no frame time is ever earlier.
    std::uint64_t m_previousFrameTime = 0;
};
}
