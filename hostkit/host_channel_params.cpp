#include "hostkit/host_channel_params.h"

#include <string>
#include <utility>

namespace kestrav::hostkit
{
namespace
{
void ReportReserved(MisuseMonitor& misuse, const char* interfaceName, int slot)
{
    misuse.Report(std::string(interfaceName) + " slot " + std::to_string(slot) +
                  " is the host's own; the module called it");
}

std::shared_ptr<MisuseMonitor> OwnMonitorUnlessShared(std::shared_ptr<MisuseMonitor> misuse)
{
    return misuse ? std::move(misuse) : std::make_shared<MisuseMonitor>();
}
}

void HostPrivacyMask::ReservedSlot1()
{
    ReportReserved(*misuse_, "IIPPrivacyMask", 1);
}

void HostPrivacyMask::ReservedSlot2()
{
    ReportReserved(*misuse_, "IIPPrivacyMask", 2);
}

void HostPrivacyMask::ReservedSlot3()
{
    ReportReserved(*misuse_, "IIPPrivacyMask", 3);
}

ipcapture::IIPPrivacyMask* HostPrivacyMaskSource::GetMask(std::int32_t index)
{
    if (index < 0 || index >= static_cast<std::int32_t>(masks_.size()))
    {
        misuse_->Report("IIPPrivacyMaskSource::GetMask(" + std::to_string(index) + ") outside 0 to 3");
        return nullptr;
    }
    return masks_[static_cast<std::size_t>(index)].get();
}

void HostPrivacyMaskSource::SetMask(std::int32_t index, double left, double top, double width, double height)
{
    masks_.at(static_cast<std::size_t>(index)) = std::make_unique<HostPrivacyMask>(misuse_, left, top, width, height);
}

void HostPrivacyMaskSource::ClearMasks()
{
    for (auto& mask : masks_)
        mask.reset();
}

void HostVideoFormat::ReservedSlot1()
{
    ReportReserved(*misuse_, "IIPVideoFormat", 1);
}

void HostVideoFormat::ReservedSlot2()
{
    ReportReserved(*misuse_, "IIPVideoFormat", 2);
}

void HostRecordingSettings::ReservedSlot2()
{
    ReportReserved(*misuse_, "IIPRecordingSettings", 2);
}

HostChannelParams::HostChannelParams(std::shared_ptr<MisuseMonitor> misuse)
    : misuse_(OwnMonitorUnlessShared(std::move(misuse))), format_(misuse_), recording_(misuse_), masks_(misuse_)
{
}

ipcapture::IIPVideoFormat* HostChannelParams::GetVideoFormat()
{
    return hideFormat_ ? nullptr : &format_;
}

ipcapture::IIPRecordingSettings* HostChannelParams::GetRecordingSettings()
{
    return hideRecording_ ? nullptr : &recording_;
}

void HostChannelParams::ReservedSlot3()
{
    ReportReserved(*misuse_, "IIPChannelParams", 3);
}

void HostChannelParams::ReservedSlot4()
{
    ReportReserved(*misuse_, "IIPChannelParams", 4);
}

ipcapture::IIPPrivacyMaskSource* HostChannelParams::GetPrivacyMasks()
{
    return &masks_;
}
}
