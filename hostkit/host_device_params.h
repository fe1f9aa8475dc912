// The host's device description read by the driver's Open: model, connection and the
// device object that leads to both and to the numbered extra parameters.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <brantel/host_params.h>

#include "hostkit/host_call_log.h"
#include "hostkit/misuse_monitor.h"

namespace kestrav::hostkit
{
// Each named slot appends "<object>.<slot>" to the call log, so tests can pin the order in
// which the driver reads the host. A text getter returns a pointer that stays valid until
// the next setter call on the same object; a text set to std::nullopt reads as null.
// Reserved slots are reported as misuses (and logged too).
//
// Without a log or monitor an object keeps its own.
class HostDeviceModel final : public ipcapture::IIPDeviceModel
{
public:
    explicit HostDeviceModel(std::shared_ptr<HostCallLog> calls = nullptr,
                             std::shared_ptr<MisuseMonitor> misuse = nullptr);

    void ReservedSlot1() override;
    const char* GetModelName() override;
    std::uint32_t GetVideoChannelCount() override;
    void ReservedSlot4() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;

    void SetModelName(std::optional<std::string> name);
    void SetVideoChannelCount(std::uint32_t count);
    void SetInputCount(std::uint32_t count);
    void SetOutputCount(std::uint32_t count);

    HostCallLog& Calls() const { return *calls_; }
    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    const std::shared_ptr<HostCallLog> calls_;
    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    std::optional<std::string> modelName_;
    std::uint32_t videoChannels_ = 0;
    std::uint32_t inputs_ = 0;
    std::uint32_t outputs_ = 0;
};

class HostConnectionParams final : public ipcapture::IIPConnectionParams
{
public:
    explicit HostConnectionParams(std::shared_ptr<HostCallLog> calls = nullptr,
                                  std::shared_ptr<MisuseMonitor> misuse = nullptr);

    const char* GetAddress() override;
    std::uint16_t GetPort() override;
    void ReservedSlot3() override;
    std::int32_t GetDefaultCodec() override;
    const char* GetUserName() override;
    const char* GetPassword() override;

    void SetAddress(std::optional<std::string> address);
    void SetPort(std::uint16_t port);
    void SetDefaultCodec(std::int32_t codec);
    void SetUserName(std::optional<std::string> user);
    void SetPassword(std::optional<std::string> password);

    HostCallLog& Calls() const { return *calls_; }
    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    const std::shared_ptr<HostCallLog> calls_;
    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    std::optional<std::string> address_;
    std::uint16_t port_ = 0;
    std::int32_t defaultCodec_ = 0;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
};

class HostDeviceParams final : public ipcapture::IIPDeviceParams
{
public:
    explicit HostDeviceParams(std::shared_ptr<HostCallLog> calls = nullptr,
                              std::shared_ptr<MisuseMonitor> misuse = nullptr);

    ipcapture::IIPDeviceModel* GetDeviceModel() override;
    ipcapture::IIPConnectionParams* GetConnectionParams() override;
    void ReservedSlot3() override;
    // Null for an index without a value; an index below 1 is also a misuse.
    const char* GetExtraParam(std::int32_t index) override;

    // Not owned; null makes the slot return null.
    void SetDeviceModel(ipcapture::IIPDeviceModel* model);
    void SetConnectionParams(ipcapture::IIPConnectionParams* connection);
    // Indices need not be contiguous; std::nullopt removes the value.
    void SetExtraParam(std::int32_t index, std::optional<std::string> value);
    void ClearExtraParams();

    HostCallLog& Calls() const { return *calls_; }
    MisuseMonitor& Misuse() const { return *misuse_; }

private:
    const std::shared_ptr<HostCallLog> calls_;
    const std::shared_ptr<MisuseMonitor> misuse_;
    mutable std::mutex mutex_;
    ipcapture::IIPDeviceModel* model_ = nullptr;
    ipcapture::IIPConnectionParams* connection_ = nullptr;
    std::map<std::int32_t, std::string> extraParams_;
};
}
