#include "channels/timestamp_converter.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace kestrav
{
namespace
{
// 90 kHz RTP ticks to 100 ns units (11.1 rounded down).
constexpr std::uint32_t kUnitsPerTick = 111;
constexpr std::uint64_t kOneMillisecond = 10000;
constexpr std::uint64_t kOneSecond = 10000000;
constexpr std::uint64_t kQuarterSecond = 2500000;
// Frames paced at the nominal rate before the measured rate takes over.
constexpr std::size_t kNominalFrames = 100;
// A step above this (4 ms) gives a part of the lead back.
constexpr std::uint64_t kCorrectionThreshold = 40000;
// The longest forward step that is still the same stream: under a second at the nominal rate.
// Anything longer is a camera that restarted, a wild packet or a clock jump.
constexpr std::uint32_t kMaximumForwardTicks = static_cast<std::uint32_t>((kOneSecond - 1) / kUnitsPerTick);
// The same backwards: a repeated or slightly earlier timestamp is a frame of the same stream.
constexpr std::uint32_t kMaximumBackwardTicks = 90000;
// How far frame times may run ahead of the clock, whatever the timestamps say.
constexpr std::uint64_t kMaximumLead = kOneSecond;
}

CTimeStampConverter::CTimeStampConverter() : CTimeStampConverter([] { return platform::FileTimeNow(); }) {}

CTimeStampConverter::CTimeStampConverter(Clock clock) : m_clock(std::move(clock)) {}

// The last frame time handed out stays: a reopened stream must not deliver times before it.
void CTimeStampConverter::Reset()
{
    m_frameTime = 0;
    m_lastTimestamp = 0;
    m_started = false;
    m_lead = 0;
    m_rtpDeltas.Clear();
    m_clockDeltas.Clear();
    m_lastClock = 0;
    m_fixedIncrement = 0;
    m_clockMode = true;
}

// From the clock, but never back behind a frame time already handed out.
void CTimeStampConverter::Restart(std::uint64_t now, std::uint32_t timestamp)
{
    m_frameTime = m_previousFrameTime != 0 ? std::max(now, m_previousFrameTime + kOneMillisecond) : now;
    m_lead = m_frameTime > now ? m_frameTime - now : 0;
    m_lastClock = now;
    m_lastTimestamp = timestamp;
    m_started = true;
    m_previousFrameTime = m_frameTime;
}

void CTimeStampConverter::Update(std::uint32_t timestamp)
{
    const std::uint64_t now = m_clock();
    if (now == 0 || !m_started || m_frameTime == 0)
    {
        Restart(now, timestamp);
        return;
    }
    // Steps are taken modulo 2^32: the timestamp wraps every 13 hours at 90 kHz.
    const std::uint32_t step = timestamp - m_lastTimestamp;
    bool exact = false;
    if (step != 0 && step <= kMaximumForwardTicks)
    {
        Advance(step, now, exact);
    }
    else if (step == 0 || step >= 0u - kMaximumBackwardTicks)
    {
        // A repeated or earlier timestamp still moves on by a millisecond, never behind the clock.
        m_frameTime = std::max(m_frameTime + kOneMillisecond, now);
        exact = true;
    }
    else
    {
        // A jump either way: the timestamps say nothing about the time that passed.
        Restart(now, timestamp);
        return;
    }

    if (m_frameTime > now + kMaximumLead)
    {
        // Further ahead than any camera's pacing explains: held at the bound and worked off as a lead.
        m_frameTime = now + kMaximumLead;
        exact = true;
    }
    // Strictly increasing, also when a measured step rounds to nothing or the bound holds it back.
    m_frameTime = std::max(m_frameTime, m_previousFrameTime + kOneMillisecond);

    if (m_frameTime > now)
    {
        const std::uint64_t ahead = m_frameTime - now;
        if (exact || ahead > kQuarterSecond)
            m_lead = ahead;
        m_lastClock = now;
        m_lastTimestamp = timestamp;
        m_previousFrameTime = m_frameTime;
        return;
    }
    // Fallen behind the clock: start again from it.
    Restart(now, timestamp);
}

void CTimeStampConverter::Advance(std::uint32_t delta, std::uint64_t now, bool& exact)
{
    m_rtpDeltas.Add(delta);
    if (now >= m_lastClock)
        m_clockDeltas.Add(static_cast<std::uint32_t>(now - m_lastClock));

    if (m_rtpDeltas.Count() <= kNominalFrames)
    {
        m_frameTime += std::uint64_t{delta} * kUnitsPerTick;
        exact = m_rtpDeltas.Count() == kNominalFrames;
        return;
    }

    const double rtpMean = m_rtpDeltas.Mean();
    std::uint64_t step =
        rtpMean > 0.0 ? static_cast<std::uint64_t>(std::floor(m_clockDeltas.Mean() * delta / rtpMean + 0.5)) : 0;
    if (m_lead > kOneMillisecond && step > kCorrectionThreshold)
    {
        const std::uint64_t correction = std::min(std::max<std::uint64_t>(step / 10, kOneMillisecond), m_lead);
        m_lead -= correction;
        step -= correction;
    }
    m_frameTime += step;
}

bool CTimeStampConverter::GetFrameTime(ipcapture::SystemTime* time) const
{
    if (!m_started || m_frameTime == 0)
        return false;
    return platform::FileTimeToSystemTime(m_frameTime, time);
}
}
