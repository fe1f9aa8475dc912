// The preset commands of a PTZ channel's command object, as the preset list uses them.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/debug_message.h"

namespace kestrav
{
// Synchronous: each call is one camera request on the caller's thread. The lines the preset list
// writes go to the driver's log through the IDebugMessage part.
class IPrepositionComm : public virtual IDebugMessage
{
public:
    virtual bool SetPreset(std::uint32_t preset, const std::string& name) = 0;
    // `name` and `value` come from the host and are not sent by every camera family.
    virtual bool GotoPreset(std::uint32_t preset, const std::string& name, std::int32_t value) = 0;
    virtual bool RemovePreset(std::uint32_t preset, const std::string& name)
    {
        (void)preset;
        (void)name;
        return true;
    }
};
}
