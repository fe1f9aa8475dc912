// The interface of a motion detection channel.
#pragma once

namespace kestrav
{
class IMotionChannel
{
public:
    virtual ~IMotionChannel() = default;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
};
}
