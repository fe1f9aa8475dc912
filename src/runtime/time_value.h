// A wall-clock time value in 100 ns units since 1601-01-01 UTC, safe to share between threads.
#pragma once

#include <cstdint>

#include <brantel/media.h>

#include "runtime/recursive_lock.h"

namespace kestrav
{
class CTime
{
public:
    // Holds the current time.
    CTime();
    virtual ~CTime() = default;
    CTime(const CTime&) = delete;
    CTime& operator=(const CTime&) = delete;

    void Update();
    std::uint64_t Get() const;
    // Milliseconds since the stored time; 0 when it lies in the future.
    std::uint32_t ElapsedMilliseconds() const;

    // The current time; 0 when the clock cannot be read.
    static std::uint64_t Now();
    static std::uint32_t ElapsedSince(std::uint64_t fileTime);
    static bool ToCalendar(std::uint64_t fileTime, ipcapture::SystemTime* calendar);

private:
    mutable CRecursiveLock m_lock;
    std::uint64_t m_value;
};
}
