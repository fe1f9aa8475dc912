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
}

CTimeStampConverter::CTimeStampConverter() : CTimeStampConverter([] { return platform::FileTimeNow(); }) {}

CTimeStampConverter::CTimeStampConverter(Clock clock) : m_clock(std::move(clock)) {}

void CTimeStampConverter::Reset()
{
    m_frameTime = 0;
    m_lastTimestamp = 0;
    m_lead = 0;
    m_rtpDeltas.Clear();
    m_clockDeltas.Clear();
    m_lastClock = 0;
    m_fixedIncrement = 0;
    m_clockMode = true;
}

void CTimeStampConverter::Restart(std::uint64_t now, std::uint32_t timestamp)
{
    m_frameTime = now;
    m_lead = 0;
    m_lastClock = now;
    m_lastTimestamp = timestamp;
}

void CTimeStampConverter::Update(std::uint32_t timestamp)
{
    const std::uint64_t now = m_clock();
    if (now == 0 || m_frameTime == 0 || m_lastTimestamp == 0)
    {
        Restart(now, timestamp);
        return;
    }
    bool exact = false;
    if (timestamp > m_lastTimestamp)
    {
        if (!Advance(timestamp - m_lastTimestamp, now, exact))
        {
            Restart(now, timestamp);
            return;
        }
    }
    else
    {
        // A repeated or earlier timestamp still moves on by a millisecond, never behind the clock.
        m_frameTime = std::max(m_frameTime + kOneMillisecond, now);
        exact = true;
    }

    if (m_frameTime > now)
    {
        const std::uint64_t ahead = m_frameTime - now;
        if (exact || ahead > kQuarterSecond)
            m_lead = ahead;
        m_lastClock = now;
        m_lastTimestamp = timestamp;
        return;
    }
    // Fallen behind the clock: start again from it.
    Restart(now, timestamp);
}

bool CTimeStampConverter::Advance(std::uint32_t delta, std::uint64_t now, bool& exact)
{
    m_rtpDeltas.Add(delta);
    if (now >= m_lastClock)
        m_clockDeltas.Add(static_cast<std::uint32_t>(now - m_lastClock));

    if (m_rtpDeltas.Count() <= kNominalFrames)
    {
        // The 32-bit product, as the nominal pacing always computed it.
        const std::uint32_t step = delta * kUnitsPerTick;
        if (step >= kOneSecond)
            return false; // a jump of a second or more: the stream restarted
        m_frameTime += step;
        exact = m_rtpDeltas.Count() == kNominalFrames;
        return true;
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
    return true;
}

bool CTimeStampConverter::GetFrameTime(ipcapture::SystemTime* time) const
{
    if (m_frameTime == 0 || m_lastTimestamp == 0)
        return false;
    return platform::FileTimeToSystemTime(m_frameTime, time);
}
}
