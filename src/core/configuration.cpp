#include "core/configuration.h"

#include "platform/process.h"
#include "runtime/host_directory.h"
#include "runtime/xml_parser.h"
#include "runtime/xml_path.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
constexpr const char* kDefaultSectionPath = "Configuration/DeviceDefault";
constexpr const char* kRtpOverRtspText = "RTPoverRTSP";
constexpr const char* kDisableText = "True";
constexpr std::int32_t kHighestPort = 65535;
}

CConfiguration::CConfiguration(const DEVICE_INFO& deviceInfo, const std::string& driverName)
    : CConfiguration(deviceInfo, driverName, HostDirectory())
{
}

CConfiguration::CConfiguration(const DEVICE_INFO& deviceInfo, const std::string& driverName,
                               const std::string& hostDirectory)
    : m_deviceInfo(deviceInfo), m_fileName(MakeFileName(hostDirectory, driverName))
{
}

CConfiguration::~CConfiguration() = default;

std::string CConfiguration::MakeFileName(const std::string& hostDirectory, const std::string& driverName)
{
    if (driverName.empty())
        return {};
    std::string fileName = hostDirectory;
    if (!fileName.empty() && !platform::IsPathSeparator(fileName.back()))
        fileName += platform::kPathSeparator;
    return fileName + driverName + ".xml";
}

std::string CConfiguration::DeviceSectionPath() const
{
    // The address is escaped as a path value: a host-given name cannot change the path.
    return FormatXmlPath("Configuration/Device[@address=\"%s\"][@port=\"%u\"]", m_deviceInfo.address.c_str(),
                         static_cast<unsigned>(m_deviceInfo.port));
}

std::string CConfiguration::GetDevicePath(CXMLParser& document) const
{
    std::string path = DeviceSectionPath();
    if (document.NodeExists(path))
        return path;
    return kDefaultSectionPath;
}

std::string CConfiguration::GetChannelPath(CXMLParser& document, std::uint32_t channelIndex) const
{
    const std::string devicePath = DeviceSectionPath();
    const std::string idCondition = FormatXmlPath("[@id=\"%u\"]", static_cast<unsigned>(channelIndex));
    const std::string candidates[] = {
        devicePath + "/VideoChannel" + idCondition,
        devicePath + "/VideoChannel",
        std::string(kDefaultSectionPath) + "/VideoChannel" + idCondition,
    };
    for (const std::string& candidate : candidates)
    {
        if (document.NodeExists(candidate))
            return candidate;
    }
    // Used even when missing: every channel setting then takes its default.
    return std::string(kDefaultSectionPath) + "/VideoChannel";
}

DeviceCapabilities CConfiguration::ReadDeviceCapabilities()
{
    DeviceCapabilities capabilities;
    CXMLParser document;
    if (m_fileName.empty() || !document.OpenDocument(m_fileName))
        return capabilities;

    const std::string section = GetDevicePath(document);
    // Only a port a socket can use replaces the default; 0, words, negative or too large
    // numbers leave it.
    const std::int32_t port = ParseStrictIntOrZero(document.GetAttribute(section + "/RTSPPort", "value"));
    if (port > 0 && port <= kHighestPort)
        capabilities.rtspPort = static_cast<std::uint32_t>(port);
    capabilities.multipleStreaming =
        document.GetAttribute(section + "/DisableMultipleStreaming", "value") != kDisableText;
    document.CloseDocument();
    return capabilities;
}

std::uint32_t CConfiguration::ReadRTPMode(std::uint32_t channelIndex)
{
    CXMLParser document;
    if (m_fileName.empty() || !document.OpenDocument(m_fileName))
        return kRtpModeUdp;
    const std::string text = document.GetNodeText(GetChannelPath(document, channelIndex) + "/RTPMode");
    document.CloseDocument();
    return text == kRtpOverRtspText ? kRtpModeOverRtsp : kRtpModeUdp;
}
}
