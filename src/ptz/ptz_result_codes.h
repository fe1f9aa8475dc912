// The result codes the host receives from PTZ operations.
#pragma once

#include <cstdint>

namespace kestrav
{
constexpr std::int32_t kPtzDone = 1;
// A null pointer, direction 10 or one the camera has no request for, a small buffer, an invalid name.
constexpr std::int32_t kPtzInvalidArgument = -3;
// No command object, not queued, refused by the camera or not saved.
constexpr std::int32_t kPtzFailed = -18;
constexpr std::int32_t kPtzNotSupported = -19;
constexpr std::int32_t kPtzPresetFailed = -23;
constexpr std::int32_t kPtzNoRoomForPreset = -26;
}
