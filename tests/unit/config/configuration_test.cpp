#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/configuration.h"
#include "host_fixture.h"
#include "platform/process.h"
#include "runtime/xml_parser.h"

namespace kestrav
{
namespace
{
DEVICE_INFO Device(const std::string& address, std::uint16_t port)
{
    DEVICE_INFO info;
    info.address = address;
    info.port = port;
    return info;
}

class ConfigurationTest : public ::testing::Test
{
protected:
    void WriteFile(const std::string& content) const
    {
        std::ofstream(hostDirectory.Path() / "BrantelIPCapture.xml", std::ios::binary) << content;
    }
    void WriteConfiguration(const std::string& sections) const
    {
        WriteFile("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Configuration>" + sections + "</Configuration>");
    }

    testing::TemporaryHostDirectory hostDirectory;
};

std::uint32_t RtspPort(const DEVICE_INFO& device)
{
    return CConfiguration(device, "BrantelIPCapture").ReadDeviceCapabilities().rtspPort;
}

bool MultipleStreaming(const DEVICE_INFO& device)
{
    return CConfiguration(device, "BrantelIPCapture").ReadDeviceCapabilities().multipleStreaming;
}

std::uint32_t RtpMode(const DEVICE_INFO& device, std::uint32_t channel)
{
    return CConfiguration(device, "BrantelIPCapture").ReadRTPMode(channel);
}

TEST(ConfigurationFileName, JoinsDirectoryDriverNameAndExtension)
{
    const std::string directory = std::string("opt") + platform::kPathSeparator + "rec";
    const std::string withSeparator = directory + platform::kPathSeparator;
    const struct
    {
        std::string directory;
        std::string driverName;
        std::string expected;
    } cases[] = {
        {withSeparator, "Drv", withSeparator + "Drv.xml"},
        {directory, "Drv", withSeparator + "Drv.xml"},
        {"", "Drv", "Drv.xml"},
        {withSeparator, "", ""}, // no driver name, no file
#if defined(_WIN32)
        {"C:/opt/rec/", "Drv", "C:/opt/rec/Drv.xml"}, // a host may end its directory with '/' as well
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(CConfiguration::MakeFileName(c.directory, c.driverName), c.expected)
            << '"' << c.directory << "\" + \"" << c.driverName << '"';
    EXPECT_EQ(CConfiguration(Device("a", 80), "", withSeparator).GetFileName(), "");
}

TEST_F(ConfigurationTest, LivesInTheHostDirectory)
{
    EXPECT_EQ(CConfiguration(Device("a", 80), "BrantelIPCapture").GetFileName(),
              hostDirectory.Text() + "BrantelIPCapture.xml");
    WriteConfiguration("<DeviceDefault><RTSPPort value=\"8554\"/></DeviceDefault>");
    EXPECT_EQ(
        CConfiguration(Device("a", 80), "BrantelIPCapture", hostDirectory.Text()).ReadDeviceCapabilities().rtspPort,
        8554u);
    EXPECT_EQ(CConfiguration(Device("a", 80), "OtherDriver").ReadDeviceCapabilities().rtspPort, 554u);
}

TEST_F(ConfigurationTest, WithoutAFileEverySettingKeepsItsDefault)
{
    const DeviceCapabilities capabilities =
        CConfiguration(Device("10.0.0.5", 80), "BrantelIPCapture").ReadDeviceCapabilities();
    EXPECT_EQ(capabilities, DeviceCapabilities());
    for (std::uint32_t channel = 0; channel < 4; ++channel)
        EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), channel), kRtpModeUdp);
}

TEST_F(ConfigurationTest, BrokenFilesKeepTheDefaults)
{
    for (const char* content : {"", "<Configuration><DeviceDefault>", "not xml at all", "\xFF\xFE\x00"})
    {
        WriteFile(content);
        EXPECT_EQ(RtspPort(Device("10.0.0.5", 80)), 554u) << content;
        EXPECT_TRUE(MultipleStreaming(Device("10.0.0.5", 80)));
        EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), 0), kRtpModeUdp);
    }
}

TEST_F(ConfigurationTest, DefaultSectionServesEveryDevice)
{
    WriteConfiguration("<DeviceDefault><RTSPPort value=\"8554\"/><DisableMultipleStreaming value=\"True\"/>"
                       "<VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></DeviceDefault>");
    for (const DEVICE_INFO& device : {Device("10.0.0.5", 80), Device("camera.local", 8080)})
    {
        EXPECT_EQ(RtspPort(device), 8554u);
        EXPECT_FALSE(MultipleStreaming(device));
        for (std::uint32_t channel = 0; channel < 3; ++channel)
            EXPECT_EQ(RtpMode(device, channel), kRtpModeOverRtsp);
    }
}

TEST_F(ConfigurationTest, MatchingDeviceSectionIsTakenWhole)
{
    WriteConfiguration("<DeviceDefault><RTSPPort value=\"8554\"/><DisableMultipleStreaming value=\"True\"/>"
                       "<VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></DeviceDefault>"
                       "<Device address=\"10.0.0.5\" port=\"80\"></Device>");
    EXPECT_EQ(RtspPort(Device("10.0.0.5", 80)), 554u);
    EXPECT_TRUE(MultipleStreaming(Device("10.0.0.5", 80)));
    // Channels fall back to DeviceDefault's channel sections, though: the device has none.
    EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), 0), kRtpModeOverRtsp);

    // Another port, or a host name for the address in the file, is another device.
    EXPECT_EQ(RtspPort(Device("10.0.0.5", 81)), 8554u);
    EXPECT_EQ(RtspPort(Device("cam5.local", 80)), 8554u);

    // With two sections for one device, a setting comes from the first in document order.
    WriteConfiguration("<Device address=\"10.0.0.5\" port=\"80\"><RTSPPort value=\"1554\"/></Device>"
                       "<Device address=\"10.0.0.5\" port=\"80\"><RTSPPort value=\"2554\"/></Device>");
    EXPECT_EQ(RtspPort(Device("10.0.0.5", 80)), 1554u);
}

TEST_F(ConfigurationTest, ChannelSectionsFallBackInOrder)
{
    WriteConfiguration("<DeviceDefault>"
                       "<VideoChannel><RTPMode>udp</RTPMode></VideoChannel>"
                       "<VideoChannel id=\"2\"><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
                       "</DeviceDefault>"
                       "<Device address=\"10.0.0.5\" port=\"80\">"
                       "<VideoChannel id=\"1\"><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>"
                       "<VideoChannel id=\"3\"><RTPMode>udp</RTPMode></VideoChannel>"
                       "</Device>");
    const DEVICE_INFO device = Device("10.0.0.5", 80);
    EXPECT_EQ(RtpMode(device, 1), kRtpModeOverRtsp) << "the device's section for the channel";
    EXPECT_EQ(RtpMode(device, 3), kRtpModeUdp);
    EXPECT_EQ(RtpMode(device, 0), kRtpModeOverRtsp) << "the device's first section, whatever its id";
    EXPECT_EQ(RtpMode(device, 2), kRtpModeOverRtsp) << "the device's first section before DeviceDefault";

    const DEVICE_INFO other = Device("10.0.0.6", 80);
    EXPECT_EQ(RtpMode(other, 2), kRtpModeOverRtsp) << "DeviceDefault's section for the channel";
    EXPECT_EQ(RtpMode(other, 1), kRtpModeUdp) << "DeviceDefault's first section";

    CXMLParser document;
    ASSERT_TRUE(document.OpenDocument(hostDirectory.Text() + "BrantelIPCapture.xml"));
    const CConfiguration configuration(other, "BrantelIPCapture");
    EXPECT_EQ(configuration.GetChannelPath(document, 2), "Configuration/DeviceDefault/VideoChannel[@id=\"2\"]");
    EXPECT_EQ(configuration.GetChannelPath(document, 5), "Configuration/DeviceDefault/VideoChannel");
    EXPECT_EQ(configuration.GetDevicePath(document), "Configuration/DeviceDefault");
}

TEST_F(ConfigurationTest, OnlyUsablePortsReplaceTheDefault)
{
    for (const char* value : {"0", "abc", "+", "-", "", "-8554", "65536", "99999999999", " 8554", "85 54"})
    {
        WriteConfiguration(std::string("<DeviceDefault><RTSPPort value=\"") + value + "\"/></DeviceDefault>");
        EXPECT_EQ(RtspPort(Device("10.0.0.5", 80)), 554u) << value;
    }
    for (const auto& [value, port] : {std::pair{"8554", 8554u}, {"+10554", 10554u}, {"65535", 65535u}, {"1", 1u}})
    {
        WriteConfiguration(std::string("<DeviceDefault><RTSPPort value=\"") + value + "\"/></DeviceDefault>");
        EXPECT_EQ(RtspPort(Device("10.0.0.5", 80)), port) << value;
    }
}

TEST_F(ConfigurationTest, SettingsAreCaseSensitiveAndUntrimmed)
{
    WriteConfiguration("<DeviceDefault><DisableMultipleStreaming value=\"true\"/>"
                       "<VideoChannel id=\"0\"><RTPMode>rtpoverrtsp</RTPMode></VideoChannel>"
                       "<VideoChannel id=\"1\"><RTPMode>RTPoverRTSP </RTPMode></VideoChannel>"
                       "<VideoChannel id=\"2\"><RTPMode><![CDATA[RTPover]]>RTSP</RTPMode></VideoChannel>"
                       "</DeviceDefault>");
    EXPECT_TRUE(MultipleStreaming(Device("10.0.0.5", 80)));
    EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), 0), kRtpModeUdp);
    EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), 1), kRtpModeUdp);
    EXPECT_EQ(RtpMode(Device("10.0.0.5", 80), 2), kRtpModeOverRtsp) << "the text content, in parts";
}

TEST_F(ConfigurationTest, AddressesAreValuesNotPathText)
{
    WriteConfiguration("<DeviceDefault><RTSPPort value=\"8554\"/></DeviceDefault>"
                       "<Device address=\"cam&quot;1\\\" port=\"80\"><RTSPPort value=\"1554\"/></Device>"
                       "<Device address=\"10.0.0.9\" port=\"80\"><RTSPPort value=\"2554\"/></Device>");
    EXPECT_EQ(RtspPort(Device("cam\"1\\", 80)), 1554u) << "quotation mark and backslash in the address";
    // Unescaped, this address would turn the condition into one that every device meets.
    EXPECT_EQ(RtspPort(Device("x\" or \"1\"=\"1", 80)), 8554u);
    EXPECT_EQ(RtspPort(Device("x\"][@port=\"80", 80)), 8554u);
}

TEST_F(ConfigurationTest, EditsTakeEffectAtTheNextRead)
{
    CConfiguration configuration(Device("10.0.0.5", 80), "BrantelIPCapture");
    EXPECT_EQ(configuration.ReadRTPMode(0), kRtpModeUdp);
    WriteConfiguration("<DeviceDefault><VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel></DeviceDefault>");
    EXPECT_EQ(configuration.ReadRTPMode(0), kRtpModeOverRtsp);
}

TEST_F(ConfigurationTest, ParserLoadsOneDocumentAtATime)
{
    const std::string fileName = hostDirectory.Text() + "BrantelIPCapture.xml";
    CXMLParser parser;
    EXPECT_FALSE(parser.OpenDocument(fileName)) << "no file yet";
    EXPECT_FALSE(parser.OpenDocument(""));
    WriteConfiguration("<DeviceDefault><RTSPPort value=\"8554\"/></DeviceDefault>");
    ASSERT_TRUE(parser.OpenDocument(fileName));
    EXPECT_FALSE(parser.OpenDocument(fileName)) << "already loaded";
    EXPECT_TRUE(parser.NodeExists("Configuration/DeviceDefault/RTSPPort"));
    EXPECT_EQ(parser.GetAttribute("Configuration/DeviceDefault/RTSPPort", "value"), "8554");
    EXPECT_EQ(parser.GetAttribute("Configuration/DeviceDefault/RTSPPort", "other"), "");
    EXPECT_EQ(parser.GetAttribute("Configuration/DeviceDefault[", "value"), "") << "not a path";
    parser.CloseDocument();
    EXPECT_FALSE(parser.IsLoaded());
    EXPECT_FALSE(parser.NodeExists("Configuration"));
    EXPECT_TRUE(parser.OpenDocument(fileName)) << "loads again after a close";
}
}
}
