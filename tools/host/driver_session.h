// One driver of the module, opened on one device and driven as a recording server drives it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <brantel/capture_driver.h>
#include <brantel/capture_io.h>
#include <brantel/channel_params.h>
#include <brantel/media.h>
#include <brantel/video_capture.h>

#include "hostkit/host_kit.h"
#include "tools/host/command_line.h"
#include "tools/host/module_loader.h"

namespace kestrav::hostbench
{
// What a host holds for a device searched earlier: every extra parameter from 1 to the highest one
// given, "(none)" (the empty value of the device search) where none was given. The module reads
// the parameters in order and stops at the first the host lacks, so a gap would hide the rest.
std::map<int, std::string> HostExtraParams(const std::map<int, std::string>& given);

// The kit's device objects describe `device` with `channelCount` video channels. The kit's
// histories are bounded, since a recording may run for hours.
void ConfigureHost(hostkit::HostKit& kit, const DeviceOptions& device, std::uint32_t channelCount);

class DriverSession
{
public:
    // Both must outlive the session; the kit must outlive the module's use of its objects,
    // which ends when Close returns.
    DriverSession(const DriverModule& module, hostkit::HostKit& kit) : module_(module), kit_(kit) {}
    ~DriverSession() { Close(); }
    DriverSession(const DriverSession&) = delete;
    DriverSession& operator=(const DriverSession&) = delete;

    // Creates a driver and opens it on the kit's device; false with the reason.
    bool Open(std::string& error);
    // False when the capture object refuses the stream (or the session is not open).
    bool StartStream(const StreamRequest& stream, ipcapture::IIPFrameSink& sink, ipcapture::IIPChannelParams& params);
    // The main stream the way StartChannel starts it: with the privacy masks and, when the parameters ask
    // for it, motion detection, whose records reach the same sink.
    bool StartChannel(const StreamRequest& stream, ipcapture::IIPFrameSink& sink, ipcapture::IIPChannelParams& params);
    // True when a stream was running in that place.
    bool StopStream(const StreamRequest& stream);
    // Every stream of the channel and its motion channel.
    bool StopChannel(std::uint32_t channel);
    // The driver's digital IO; null when the session is not open.
    ICaptureIOApi* CaptureIO();
    // Closes the driver (which stops every stream) and deletes it through the module. Safe to repeat.
    void Close();

    bool IsOpen() const { return driver_ != nullptr; }
    std::uint32_t ChannelCount() const;

private:
    const DriverModule& module_;
    hostkit::HostKit& kit_;
    ipcapture::IIPCaptureDriverEx5* driver_ = nullptr;
    ipcapture::IIPVideoCaptureEx2* capture_ = nullptr;
};
}
