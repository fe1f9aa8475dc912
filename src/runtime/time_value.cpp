#include "runtime/time_value.h"

#include "platform/clock.h"

namespace kestrav
{
CTime::CTime() : m_value(Now()) {}

void CTime::Update()
{
    const std::uint64_t now = Now();
    CRecursiveLockGuard guard(m_lock);
    m_value = now;
}

std::uint64_t CTime::Get() const
{
    CRecursiveLockGuard guard(m_lock);
    return m_value;
}

std::uint32_t CTime::ElapsedMilliseconds() const
{
    return ElapsedSince(Get());
}

std::uint64_t CTime::Now()
{
    return platform::FileTimeNow();
}

std::uint32_t CTime::ElapsedSince(std::uint64_t fileTime)
{
    const std::uint64_t now = Now();
    if (now <= fileTime)
        return 0;
    return static_cast<std::uint32_t>((now - fileTime) / 10000);
}

bool CTime::ToCalendar(std::uint64_t fileTime, ipcapture::SystemTime* calendar)
{
    return platform::FileTimeToSystemTime(fileTime, calendar);
}
}
