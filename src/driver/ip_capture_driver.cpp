#include "driver/ip_capture_driver.h"

#include <cstdarg>
#include <new>

#include "platform/thread_termination.h"
#include "runtime/debug_info.h"
#include "runtime/format_string.h"
#include "runtime/host_directory.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
// A host that never ends its extra parameter list must not hang Open.
constexpr std::int32_t kMaximumExtraParams = 4096;
constexpr platform::FileVersion kDefaultHostCoreVersion{5, 12, 0, 0};

std::string TextOf(const char* text)
{
    return text != nullptr ? std::string(text) : std::string();
}

bool VersionBelow(const platform::FileVersion& version, std::uint16_t major, std::uint16_t minor)
{
    return version.major < major || (version.major == major && version.minor < minor);
}
}

CIPCaptureDriver::CIPCaptureDriver() : m_hostCoreVersion(kDefaultHostCoreVersion), m_hostDirectory(HostDirectory())
{
    if (auto version = platform::FindHostCoreVersion(m_hostDirectory))
        m_hostCoreVersion = *version;
}

CIPCaptureDriver::~CIPCaptureDriver() = default;

bool CIPCaptureDriver::Open(ipcapture::IIPDebugOutput* debugSink, ipcapture::IIPMediaAllocator* allocator,
                            ipcapture::IIPDeviceParams* deviceParams)
{
    try
    {
        if (!ReadDeviceParams(deviceParams))
            return false;
        m_debugSink = debugSink;
        m_allocator = allocator;

        ipcapture::IIPDeviceModel* model = deviceParams->GetDeviceModel();
        m_videoCapture.reset(new (std::nothrow) CIPVideoCapture(this, model->GetVideoChannelCount()));
        return m_videoCapture != nullptr && CreateCaptureIO() && CreatePTZHandler();
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        return false;
    }
}

bool CIPCaptureDriver::ReadDeviceParams(ipcapture::IIPDeviceParams* deviceParams)
{
    if (deviceParams == nullptr)
        return false;
    ipcapture::IIPDeviceModel* model = deviceParams->GetDeviceModel();
    ipcapture::IIPConnectionParams* connection = deviceParams->GetConnectionParams();
    if (model == nullptr || connection == nullptr)
        return false;

    m_defaultCodec = connection->GetDefaultCodec();
    m_inputCount = model->GetInputCount();
    m_outputCount = model->GetOutputCount();
    m_channelCount = model->GetVideoChannelCount();
    m_deviceInfo.address = TextOf(connection->GetAddress());
    m_deviceInfo.port = connection->GetPort();
    m_deviceInfo.userName = TextOf(connection->GetUserName());
    m_deviceInfo.password = TextOf(connection->GetPassword());
    m_deviceInfo.modelName = TextOf(model->GetModelName());

    for (std::int32_t index = 1; index <= kMaximumExtraParams; ++index)
    {
        const char* text = deviceParams->GetExtraParam(index);
        if (text == nullptr)
            break;
        m_extraParams[index] = text;
    }
    return true;
}

void CIPCaptureDriver::Close()
{
    m_videoCapture.reset();
    m_captureIO.reset();
    m_ptzHandler.reset();
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture()
{
    return m_videoCapture.get();
}

ICaptureIOApi* CIPCaptureDriver::GetCaptureIO()
{
    return m_captureIO.get();
}

IIPPTZDriver* CIPCaptureDriver::GetPTZDriver()
{
    // The same handler under both versions.
    return GetPTZDriverEx();
}

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx()
{
    return m_videoCapture.get();
}

IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx()
{
    return m_ptzHandler.get();
}

ipcapture::IIPVideoCaptureEx2* CIPCaptureDriver::GetVideoCaptureEx2()
{
    return m_videoCapture.get();
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware)
{
    const std::string name = GetDriverName();
    if (name.empty() || m_deviceInfo.modelName.empty())
        return;
    std::string line =
        FormatString("DRIVER IS OPENED (name: %s, device model: %s", name.c_str(), m_deviceInfo.modelName.c_str());
    if (!firmware.empty())
        line += ", FW: " + firmware;
    line += FormatString(", address: %s:%u)", m_deviceInfo.address.c_str(), static_cast<unsigned>(m_deviceInfo.port));
    SendDebugMessage(kLogDriverEvent, "%s", line.c_str());
}

std::string CIPCaptureDriver::GetDeviceAddress()
{
    return m_deviceInfo.address + ":" + std::to_string(m_deviceInfo.port);
}

void CIPCaptureDriver::SendDebugMessage(unsigned level, const char* format, ...)
{
    if (level == kLogDebug || m_debugSink == nullptr)
        return;
    std::string line;
    va_list arguments;
    va_start(arguments, format);
    try
    {
        line = FormatStringV(format, arguments);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        line.clear();
    }
    va_end(arguments);
    if (line.empty())
        return;

    const CDebugInfo info(line, static_cast<std::uint8_t>(TranslateLevel(level)));
    try
    {
        m_debugSink->WriteDebugInfo(&info);
    }
    KESTRAV_PASS_THREAD_TERMINATION
    catch (...)
    {
        // The host's sink failing must not fail the caller.
    }
}

unsigned CIPCaptureDriver::TranslateLevel(unsigned level) const
{
    if (VersionBelow(m_hostCoreVersion, 5, 12))
        return level == kLogInformation || level == kLogDriverEvent ? kLogWarning : level;
    if (VersionBelow(m_hostCoreVersion, 6, 3))
        return level == kLogDriverEvent ? kLogInformation : level;
    return level;
}

std::string CIPCaptureDriver::GetParamString(std::int32_t index)
{
    const auto found = m_extraParams.find(index);
    if (found == m_extraParams.end() || found->second == "(none)")
        return {};
    return found->second;
}

std::int32_t CIPCaptureDriver::GetParamInt(std::int32_t index)
{
    const auto found = m_extraParams.find(index);
    if (found == m_extraParams.end())
        return kMissingParamInt;
    return ParseStrictInt(found->second).value_or(kMissingParamInt);
}
}
