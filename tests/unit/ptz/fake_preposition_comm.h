// A camera's preset commands without a camera: each call is recorded ("set 0", "goto 2", "rem 1") and
// answered as the test asks; log lines are kept as finished texts.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ptz/preposition_comm.h"
#include "runtime/format_string.h"

namespace kestrav::testing
{
class FakePrepositionComm : public IPrepositionComm
{
public:
    std::string GetDeviceAddress() override { return "192.0.2.1:80"; }
    void SendDebugMessage(unsigned level, const char* format, ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        const std::string text = FormatStringV(format, arguments);
        va_end(arguments);
        std::lock_guard lock(mutex);
        lines.push_back(std::to_string(level) + " " + text);
    }
    bool SetPreset(std::uint32_t preset, const std::string&) override { return Call("set", preset, refuseSet); }
    bool GotoPreset(std::uint32_t preset, const std::string&, std::int32_t) override
    {
        return Call("goto", preset, refuseGoto);
    }
    bool RemovePreset(std::uint32_t preset, const std::string&) override { return Call("rem", preset, refuseRemove); }

    std::vector<std::string> TakeCalls()
    {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }

    bool refuseSet = false;
    bool refuseGoto = false;
    bool refuseRemove = false;
    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::string> lines;

private:
    bool Call(const char* what, std::uint32_t preset, bool refuse)
    {
        std::lock_guard lock(mutex);
        calls.push_back(std::string(what) + " " + std::to_string(preset));
        return !refuse;
    }
};
}
