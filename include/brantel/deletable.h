// The root of every object the module hands to the host.
#pragma once

namespace kestrav::ipcapture
{
// Adds nothing but the virtual destructor in slot 0, so that the shared delete export
// can destroy whatever object it is given.
class IIPDeletable
{
public:
    virtual ~IIPDeletable() = default;
};
}
