#include "io/digital_io.h"

#include <string>
#include <vector>

#include "core/driver_services.h"
#include "http/http_utils.h"
#include "text/text_utils.h"

namespace kestrav
{
namespace
{
DEVICE_INFO DeviceOf(IDriver* driver)
{
    const DEVICE_INFO* device = driver != nullptr ? driver->GetDeviceInfo() : nullptr;
    return device != nullptr ? *device : DEVICE_INFO();
}
}

CDigitalIO::CDigitalIO(IDriver* driver, platform::IHttpTransport& transport)
    : CIOBase(driver), m_outputSender(DeviceOf(driver), transport), m_inputSender(DeviceOf(driver), transport)
{
}

CDigitalIO::~CDigitalIO()
{
    StopThreads();
}

void CDigitalIO::CancelRequests()
{
    m_outputSender.CloseRequest();
    m_inputSender.CloseRequest();
}

bool CDigitalIO::SetCameraOutput(std::int32_t index, std::int32_t state)
{
    const std::string path =
        FormatString("/setio?relay%u=%d", static_cast<unsigned>(index) + 1, state == kIOStateInactive ? 0 : 1);
    // The camera's 2xx is the answer; some firmware sends it without a body.
    return HUtils::RequestGet(m_outputSender, path);
}

std::optional<std::int32_t> CDigitalIO::ParseAlarmInput(std::string_view text)
{
    // Only complete lines: a value cut by the end of a read may go on in the next.
    const std::size_t lastLineEnd = text.find_last_of("\r\n");
    if (lastLineEnd == std::string_view::npos)
        return std::nullopt;
    const std::string value =
        TrimBlanks(FindKeyValue("AlarmInputDetect", "=", text.substr(0, lastLineEnd + 1), "\r\n"));
    if (value.empty())
        return std::nullopt;
    return ParseStrictIntOrZero(value) != 0 ? kIOStateActive : kIOStateInactive;
}

bool CDigitalIO::GetInputStates(std::int32_t)
{
    if (!m_inputSender.SendRequest(Web::HttpRequest("GET", kAlarmPath)) || m_inputSender.GetStatusCode() != 200)
    {
        m_inputSender.CloseRequest();
        return false;
    }
    // The camera keeps the response open and pushes parts; the first one holds the input's line, possibly
    // spread over several reads.
    std::string text;
    std::optional<std::int32_t> state;
    std::vector<std::uint8_t> bytes;
    while (!state && text.size() < kInputReadLimit &&
           m_inputSender.Read(bytes, static_cast<std::uint32_t>(kInputReadLimit - text.size()), true) > 0)
    {
        text.append(bytes.begin(), bytes.end());
        state = ParseAlarmInput(text);
    }
    m_inputSender.CloseRequest();
    // Without the line the poll says nothing about the input: a failed poll, not an inactive input.
    if (!state)
        return false;
    ApplyInputState(*state);
    return true;
}
}
