// The logging interface every worker object writes through, and its levels.
#pragma once

#include <string>

#include "runtime/printf_format.h"

// Implemented by the driver (and by objects that pass lines on to it).
class IDebugMessage
{
public:
    virtual ~IDebugMessage() = default;
    // Names the device in log lines: address, ":" and port.
    virtual std::string GetDeviceAddress() = 0;
    // printf-style; the first field of every format is the reporting method's full name.
    virtual void SendDebugMessage(unsigned level, const char* format, ...) KESTRAV_PRINTF_FORMAT(3, 4) = 0;
};

namespace kestrav
{
constexpr unsigned kLogError = 1;
constexpr unsigned kLogWarning = 2;
constexpr unsigned kLogInformation = 3;
// Never forwarded to the host.
constexpr unsigned kLogDebug = 4;
// The single "DRIVER IS OPENED" line.
constexpr unsigned kLogDriverEvent = 100;
}
