// A small base of the camera family's motion channel: its driver, a counter, a lock and a text.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/recursive_lock.h"

namespace kestrav
{
class IDriver;

class CLoggerInstance
{
public:
    explicit CLoggerInstance(IDriver* driver) : m_driver(driver) {}
    virtual ~CLoggerInstance() = default;
    CLoggerInstance(const CLoggerInstance&) = delete;
    CLoggerInstance& operator=(const CLoggerInstance&) = delete;

protected:
    IDriver* m_driver;
    std::uint32_t m_counter = 0;
    CRecursiveLock m_lock;
    std::string m_text;
};
}
