// Calendar arithmetic for file times; the proleptic Gregorian calendar, as Windows uses.
#include <cstdint>

#include "platform/clock.h"

namespace kestrav::platform
{
namespace
{
constexpr std::uint64_t kTicksPerMillisecond = 10000;
constexpr std::uint64_t kMillisecondsPerDay = 86400000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDaysFrom1601To1970 = 134774;
// Windows converts years 1601 to 30827 only.
constexpr int kLastYear = 30827;

struct CivilDate
{
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Howard Hinnant's days-from-civil algorithms, on days since 1970-01-01.
CivilDate CivilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}
}

bool FileTimeToSystemTime(std::uint64_t fileTime, ipcapture::SystemTime* calendar)
{
    if (calendar == nullptr || (fileTime >> 63) != 0)
        return false;
    const std::uint64_t totalMilliseconds = fileTime / kTicksPerMillisecond;
    const auto daysSince1601 = static_cast<std::int64_t>(totalMilliseconds / kMillisecondsPerDay);
    std::uint64_t dayMilliseconds = totalMilliseconds % kMillisecondsPerDay;

    const CivilDate date = CivilFromDays(daysSince1601 - kDaysFrom1601To1970);
    if (date.year > kLastYear)
        return false;
    calendar->wYear = static_cast<std::uint16_t>(date.year);
    calendar->wMonth = static_cast<std::uint16_t>(date.month);
    calendar->wDay = static_cast<std::uint16_t>(date.day);
    // 1601-01-01 was a Monday; 0 is Sunday.
    calendar->wDayOfWeek = static_cast<std::uint16_t>((daysSince1601 + 1) % 7);
    calendar->wHour = static_cast<std::uint16_t>(dayMilliseconds / 3600000);
    dayMilliseconds %= 3600000;
    calendar->wMinute = static_cast<std::uint16_t>(dayMilliseconds / 60000);
    dayMilliseconds %= 60000;
    calendar->wSecond = static_cast<std::uint16_t>(dayMilliseconds / 1000);
    calendar->wMilliseconds = static_cast<std::uint16_t>(dayMilliseconds % 1000);
    return true;
}

bool SystemTimeToFileTime(const ipcapture::SystemTime& calendar, std::uint64_t* fileTime)
{
    if (fileTime == nullptr || calendar.wYear < 1601 || calendar.wYear > kLastYear || calendar.wMonth < 1 ||
        calendar.wMonth > 12 || calendar.wDay < 1 || calendar.wDay > DaysInMonth(calendar.wYear, calendar.wMonth) ||
        calendar.wHour > 23 || calendar.wMinute > 59 || calendar.wSecond > 59 || calendar.wMilliseconds > 999)
        return false;
    const std::int64_t days = DaysFromCivil(calendar.wYear, calendar.wMonth, calendar.wDay) + kDaysFrom1601To1970;
    const std::uint64_t milliseconds = static_cast<std::uint64_t>(days) * kMillisecondsPerDay +
                                       calendar.wHour * 3600000ULL + calendar.wMinute * 60000ULL +
                                       calendar.wSecond * 1000ULL + calendar.wMilliseconds;
    *fileTime = milliseconds * kTicksPerMillisecond;
    return true;
}
}
