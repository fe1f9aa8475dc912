// Wall-clock file times (100 ns units since 1601-01-01 UTC) and a monotonic clock.
#pragma once

#include <cstdint>

#include <brantel/media.h>

namespace kestrav::platform
{
// Current UTC time as a file time; 0 when the clock cannot be read.
std::uint64_t FileTimeNow();

// Milliseconds of a clock that never jumps; only differences are meaningful.
std::uint64_t MonotonicMilliseconds();

// Calendar fields of a file time; false for values beyond what Windows converts
// (the top bit set).
bool FileTimeToSystemTime(std::uint64_t fileTime, ipcapture::SystemTime* calendar);

// The inverse; false for fields out of range.
bool SystemTimeToFileTime(const ipcapture::SystemTime& calendar, std::uint64_t* fileTime);
}
