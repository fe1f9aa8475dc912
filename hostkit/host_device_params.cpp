#include "hostkit/host_device_params.h"

#include <utility>

namespace kestrav::hostkit
{
namespace
{
std::shared_ptr<HostCallLog> OwnLogUnlessShared(std::shared_ptr<HostCallLog> calls)
{
    return calls ? std::move(calls) : std::make_shared<HostCallLog>();
}

std::shared_ptr<MisuseMonitor> OwnMonitorUnlessShared(std::shared_ptr<MisuseMonitor> misuse)
{
    return misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>();
}

const char* TextOrNull(const std::optional<std::string>& text)
{
    return text ? text->c_str() : nullptr;
}

void ReportReserved(HostCallLog& calls, MisuseMonitor& misuse, const char* object, const char* interfaceName, int slot)
{
    calls.Append(std::string(object) + ".ReservedSlot" + std::to_string(slot));
    misuse.Report(std::string(interfaceName) + " slot " + std::to_string(slot) +
                  " is the host's own; the module called it");
}
}

HostDeviceModel::HostDeviceModel(std::shared_ptr<HostCallLog> calls, std::shared_ptr<MisuseMonitor> misuse)
    : calls_(OwnLogUnlessShared(std::move(calls))), misuse_(OwnMonitorUnlessShared(std::move(misuse)))
{
}

void HostDeviceModel::ReservedSlot1()
{
    ReportReserved(*calls_, *misuse_, "model", "IIPDeviceModel", 1);
}

const char* HostDeviceModel::GetModelName()
{
    calls_->Append("model.GetModelName");
    std::lock_guard lock(mutex_);
    return TextOrNull(modelName_);
}

std::uint32_t HostDeviceModel::GetVideoChannelCount()
{
    calls_->Append("model.GetVideoChannelCount");
    std::lock_guard lock(mutex_);
    return videoChannels_;
}

void HostDeviceModel::ReservedSlot4()
{
    ReportReserved(*calls_, *misuse_, "model", "IIPDeviceModel", 4);
}

std::uint32_t HostDeviceModel::GetInputCount()
{
    calls_->Append("model.GetInputCount");
    std::lock_guard lock(mutex_);
    return inputs_;
}

std::uint32_t HostDeviceModel::GetOutputCount()
{
    calls_->Append("model.GetOutputCount");
    std::lock_guard lock(mutex_);
    return outputs_;
}

void HostDeviceModel::SetModelName(std::optional<std::string> name)
{
    std::lock_guard lock(mutex_);
    modelName_ = std::move(name);
}

void HostDeviceModel::SetVideoChannelCount(std::uint32_t count)
{
    std::lock_guard lock(mutex_);
    videoChannels_ = count;
}

void HostDeviceModel::SetInputCount(std::uint32_t count)
{
    std::lock_guard lock(mutex_);
    inputs_ = count;
}

void HostDeviceModel::SetOutputCount(std::uint32_t count)
{
    std::lock_guard lock(mutex_);
    outputs_ = count;
}

HostConnectionParams::HostConnectionParams(std::shared_ptr<HostCallLog> calls, std::shared_ptr<MisuseMonitor> misuse)
    : calls_(OwnLogUnlessShared(std::move(calls))), misuse_(OwnMonitorUnlessShared(std::move(misuse)))
{
}

const char* HostConnectionParams::GetAddress()
{
    calls_->Append("connection.GetAddress");
    std::lock_guard lock(mutex_);
    return TextOrNull(address_);
}

std::uint16_t HostConnectionParams::GetPort()
{
    calls_->Append("connection.GetPort");
    std::lock_guard lock(mutex_);
    return port_;
}

void HostConnectionParams::ReservedSlot3()
{
    ReportReserved(*calls_, *misuse_, "connection", "IIPConnectionParams", 3);
}

std::int32_t HostConnectionParams::GetDefaultCodec()
{
    calls_->Append("connection.GetDefaultCodec");
    std::lock_guard lock(mutex_);
    return defaultCodec_;
}

const char* HostConnectionParams::GetUserName()
{
    calls_->Append("connection.GetUserName");
    std::lock_guard lock(mutex_);
    return TextOrNull(user_);
}

const char* HostConnectionParams::GetPassword()
{
    calls_->Append("connection.GetPassword");
    std::lock_guard lock(mutex_);
    return TextOrNull(password_);
}

void HostConnectionParams::SetAddress(std::optional<std::string> address)
{
    std::lock_guard lock(mutex_);
    address_ = std::move(address);
}

void HostConnectionParams::SetPort(std::uint16_t port)
{
    std::lock_guard lock(mutex_);
    port_ = port;
}

void HostConnectionParams::SetDefaultCodec(std::int32_t codec)
{
    std::lock_guard lock(mutex_);
    defaultCodec_ = codec;
}

void HostConnectionParams::SetUserName(std::optional<std::string> user)
{
    std::lock_guard lock(mutex_);
    user_ = std::move(user);
}

void HostConnectionParams::SetPassword(std::optional<std::string> password)
{
    std::lock_guard lock(mutex_);
    password_ = std::move(password);
}

HostDeviceParams::HostDeviceParams(std::shared_ptr<HostCallLog> calls, std::shared_ptr<MisuseMonitor> misuse)
    : calls_(OwnLogUnlessShared(std::move(calls))), misuse_(OwnMonitorUnlessShared(std::move(misuse)))
{
}

ipcapture::IIPDeviceModel* HostDeviceParams::GetDeviceModel()
{
    calls_->Append("params.GetDeviceModel");
    std::lock_guard lock(mutex_);
    return model_;
}

ipcapture::IIPConnectionParams* HostDeviceParams::GetConnectionParams()
{
    calls_->Append("params.GetConnectionParams");
    std::lock_guard lock(mutex_);
    return connection_;
}

void HostDeviceParams::ReservedSlot3()
{
    ReportReserved(*calls_, *misuse_, "params", "IIPDeviceParams", 3);
}

const char* HostDeviceParams::GetExtraParam(std::int32_t index)
{
    calls_->Append("params.GetExtraParam(" + std::to_string(index) + ")");
    if (index < 1)
    {
        misuse_->Report("IIPDeviceParams::GetExtraParam(" + std::to_string(index) + "): indices start at 1");
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    const auto found = extraParams_.find(index);
    return found != extraParams_.end() ? found->second.c_str() : nullptr;
}

void HostDeviceParams::SetDeviceModel(ipcapture::IIPDeviceModel* model)
{
    std::lock_guard lock(mutex_);
    model_ = model;
}

void HostDeviceParams::SetConnectionParams(ipcapture::IIPConnectionParams* connection)
{
    std::lock_guard lock(mutex_);
    connection_ = connection;
}

void HostDeviceParams::SetExtraParam(std::int32_t index, std::optional<std::string> value)
{
    std::lock_guard lock(mutex_);
    if (value)
    {
        extraParams_.insert_or_assign(index, std::move(*value));
    }
    else
    {
        extraParams_.erase(index);
    }
}

void HostDeviceParams::ClearExtraParams()
{
    std::lock_guard lock(mutex_);
    extraParams_.clear();
}
}
