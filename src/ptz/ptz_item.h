// One PTZ command waiting for the command thread.
#pragma once

#include <cstdint>

// The issuing control's parameters; carried along for camera families that read them.
class IIPParams;

namespace kestrav
{
enum PtzCommandId : std::int32_t
{
    kPtzCommandMove = 1,
    kPtzCommandFocus = 2,
    kPtzCommandIris = 3,
    kPtzCommandStop = 4,
    kPtzCommandAreaZoom = 5,
    kPtzCommandCenter = 6,
    kPtzCommandUnzoom = 7,
};

enum PtzSubCommand : std::int32_t
{
    kPtzFocusNear = 1, // "focus=1"
    kPtzFocusFar = 2,  // "focus=-1"
    kPtzIrisOpen = 3,  // "iris=1"
    kPtzIrisClose = 4, // "iris=-1"
    kPtzStopMoving = 5,
    kPtzStopZooming = 6,
    kPtzStopFocusing = 7,
    kPtzStopIrisChanging = 8,
};

// Directions of a move: 0 left, 1 right, 2 up, 3 down, 4 to 7 the diagonals, 8 zoom out, 9 zoom in.
constexpr std::int32_t kPtzZoomOut = 8;
constexpr std::int32_t kPtzZoomIn = 9;
constexpr std::int32_t kPtzLastDirection = 9;

class CPTZItem
{
public:
    CPTZItem(std::int32_t commandId, std::int32_t subCommand, IIPParams* params, std::int32_t speed, std::int32_t x = 0,
             std::int32_t y = 0, std::int32_t z = 0)
        : commandId(commandId), subCommand(subCommand), params(params), speed(speed), x(x), y(y), z(z)
    {
    }
    virtual ~CPTZItem() = default;

    std::int32_t commandId;
    std::int32_t subCommand;
    IIPParams* params;
    std::int32_t speed;
    // The direction of a move, or the position of an area zoom or a centring.
    std::int32_t x;
    std::int32_t y;
    std::int32_t z;
};
}
