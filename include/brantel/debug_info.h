// The log record handed to the host's debug sink.
#pragma once

#include <cstdint>

// Valid only during the host's WriteDebugInfo call.
class CDebugInfoIf
{
public:
    virtual ~CDebugInfoIf() = default;
    virtual std::uint8_t GetLevel() const = 0;
    // Null when the line is empty.
    virtual const char* GetText() const = 0;
};
