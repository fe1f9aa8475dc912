// One complete host: every object the module calls, wired together with usable defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hostkit/host_call_log.h"
#include "hostkit/host_channel_params.h"
#include "hostkit/host_debug_output.h"
#include "hostkit/host_device_params.h"
#include "hostkit/host_frame_sink.h"
#include "hostkit/host_media_allocator.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// All objects share one misuse monitor and one call log. The device parameters lead to the
// kit's model and connection. Defaults describe one H.264 camera on the local machine
// without credentials; tests change what they need through the accessors.
class HostKit
{
public:
    static constexpr const char* kDefaultAddress = "127.0.0.1";
    static constexpr std::uint16_t kDefaultPort = 80;
    static constexpr const char* kDefaultModelName = "TestModel";
    static constexpr std::uint32_t kDefaultVideoChannelCount = 1;
    // The channel factory's code for an H.264 channel.
    static constexpr std::int32_t kDefaultCodec = 3;

    HostKit();
    HostKit(const HostKit&) = delete;
    HostKit& operator=(const HostKit&) = delete;

    HostDebugOutput& Debug() { return debug_; }
    HostMediaAllocator& Allocator() { return allocator_; }
    HostFrameSink& Sink() { return sink_; }
    HostDeviceModel& Model() { return model_; }
    HostConnectionParams& Connection() { return connection_; }
    HostDeviceParams& Params() { return params_; }
    // The parameters of a channel start.
    HostChannelParams& Channel() { return channel_; }
    HostCallLog& Calls() { return *calls_; }
    MisuseMonitor& Misuse() { return *misuse_; }
    // For further host objects (a second frame sink) that should report to the same place.
    std::shared_ptr<MisuseMonitor> SharedMisuse() const { return misuse_; }
    std::shared_ptr<HostCallLog> SharedCalls() const { return calls_; }

    void SetMisuseHandler(MisuseMonitor::Handler handler) { misuse_->SetMisuseHandler(std::move(handler)); }
    std::vector<std::string> Misuses() const { return misuse_->Misuses(); }

private:
    // Declared first so that it outlives the allocator, which reports at destruction.
    const std::shared_ptr<MisuseMonitor> misuse_;
    const std::shared_ptr<HostCallLog> calls_;
    HostDebugOutput debug_;
    HostMediaAllocator allocator_;
    HostFrameSink sink_;
    HostDeviceModel model_;
    HostConnectionParams connection_;
    HostDeviceParams params_;
    HostChannelParams channel_;
};
}
