#include "tools/host/driver_session.h"

namespace kestrav::hostbench
{
namespace
{
// The value the device search writes for a text it has nothing for; the module reads it as empty.
constexpr const char* kEmptyParam = "(none)";
// Recent log lines kept by the kit besides the printed ones; enough for a look in a debugger.
constexpr std::size_t kKeptLogLines = 200;
}

std::map<int, std::string> HostExtraParams(const std::map<int, std::string>& given)
{
    std::map<int, std::string> params;
    if (given.empty())
        return params;
    const int highest = given.rbegin()->first;
    for (int index = DeviceOptions::kFirstExtraParam; index <= highest; ++index)
    {
        const auto found = given.find(index);
        params.emplace(index, found != given.end() ? found->second : kEmptyParam);
    }
    return params;
}

void ConfigureHost(hostkit::HostKit& kit, const DeviceOptions& device, std::uint32_t channelCount)
{
    kit.Model().SetModelName(device.model);
    kit.Model().SetVideoChannelCount(channelCount);
    kit.Model().SetInputCount(0);
    kit.Model().SetOutputCount(0);
    kit.Connection().SetAddress(device.address);
    kit.Connection().SetPort(device.port);
    kit.Connection().SetUserName(device.user);
    kit.Connection().SetPassword(device.password);
    kit.Params().ClearExtraParams();
    for (const auto& [index, value] : HostExtraParams(device.extraParams))
        kit.Params().SetExtraParam(index, value);
    kit.Debug().SetRecordLimit(kKeptLogLines);
    kit.Allocator().SetRequestLimit(0);
    kit.Sink().SetFrameLimit(0);
}

bool DriverSession::Open(std::string& error)
{
    Close();
    driver_ = module_.CreateDriver();
    if (driver_ == nullptr)
    {
        error = "the module created no driver";
        return false;
    }
    if (!driver_->Open(&kit_.Debug(), &kit_.Allocator(), &kit_.Params()))
    {
        error = "the driver did not open the device";
        Close();
        return false;
    }
    capture_ = driver_->GetVideoCaptureEx2();
    if (capture_ == nullptr)
    {
        error = "the driver has no video capture object";
        Close();
        return false;
    }
    return true;
}

bool DriverSession::StartStream(const StreamRequest& stream, ipcapture::IIPFrameSink& sink,
                                ipcapture::IIPChannelParams& params)
{
    if (capture_ == nullptr)
        return false;
    return capture_->StartStream(stream.channel, static_cast<std::uint32_t>(stream.kind), &sink, &params);
}

bool DriverSession::StartChannel(const StreamRequest& stream, ipcapture::IIPFrameSink& sink,
                                 ipcapture::IIPChannelParams& params)
{
    if (capture_ == nullptr)
        return false;
    return capture_->StartChannel(stream.channel, &sink, &params);
}

bool DriverSession::StopChannel(std::uint32_t channel)
{
    if (capture_ == nullptr)
        return false;
    return capture_->StopChannel(channel);
}

ICaptureIOApi* DriverSession::CaptureIO()
{
    return driver_ != nullptr ? driver_->GetCaptureIO() : nullptr;
}

bool DriverSession::StopStream(const StreamRequest& stream)
{
    if (capture_ == nullptr)
        return false;
    return capture_->StopStream(stream.channel, static_cast<std::uint32_t>(stream.kind));
}

void DriverSession::Close()
{
    capture_ = nullptr;
    if (driver_ == nullptr)
        return;
    driver_->Close();
    module_.DeleteDriver(driver_);
    driver_ = nullptr;
}

std::uint32_t DriverSession::ChannelCount() const
{
    return capture_ != nullptr ? capture_->GetChannelCount() : 0;
}
}
