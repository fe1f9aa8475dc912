// The optional configuration file beside the host executable ("<host dir>BrantelIPCapture.xml")
// with per-device and per-channel overrides:
//
//   <Configuration>
//     <DeviceDefault> ... </DeviceDefault>
//     <Device address="10.0.0.5" port="80">
//       <RTSPPort value="8554"/>
//       <DisableMultipleStreaming value="True"/>
//       <VideoChannel id="0"><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>
//     </Device>
//   </Configuration>
//
// A matching Device section is taken whole: what it lacks is not looked up in DeviceDefault.
// The file is read afresh at every read, so edits take effect at the next device search or
// channel start. A missing or broken file leaves every setting at its default.
#pragma once

#include <cstdint>
#include <string>

#include "core/device_capabilities.h"
#include "core/device_info.h"

namespace kestrav
{
class CXMLParser;

// RTP modes of a video channel.
constexpr std::uint32_t kRtpModeUdp = 0;
constexpr std::uint32_t kRtpModeOverRtsp = 2;

class CConfiguration
{
public:
    // The file of the running host's directory.
    CConfiguration(const DEVICE_INFO& deviceInfo, const std::string& driverName);
    CConfiguration(const DEVICE_INFO& deviceInfo, const std::string& driverName, const std::string& hostDirectory);
    virtual ~CConfiguration();

    // A fresh capability record with the RTSP port and the multiple-streaming flag of the device
    // section in effect.
    DeviceCapabilities ReadDeviceCapabilities();
    // kRtpModeOverRtsp when the channel section in effect says "RTPoverRTSP", else kRtpModeUdp.
    std::uint32_t ReadRTPMode(std::uint32_t channelIndex);

    // The device's own section when the document has one, else the DeviceDefault section.
    std::string GetDevicePath(CXMLParser& document) const;
    // The first of: the device's channel section with this id, the device's first channel
    // section, DeviceDefault's channel section with this id, DeviceDefault's first one.
    std::string GetChannelPath(CXMLParser& document, std::uint32_t channelIndex) const;

    // Empty when there is no file to look for (no driver name).
    const std::string& GetFileName() const { return m_fileName; }

    // The rule: the directory, a separator unless it ends in one, the driver name and ".xml".
    static std::string MakeFileName(const std::string& hostDirectory, const std::string& driverName);

private:
    std::string DeviceSectionPath() const;

    DEVICE_INFO m_deviceInfo;
    std::string m_fileName;
};
}
